#include "helper_cli/console_output.h"

#include <cstddef>
#include <iostream>

namespace helper_cli {

namespace {

constexpr char32_t replacement_character = 0xFFFD;

bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void append_utf8(std::string& out, char32_t code_point)
{
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

// Names and texts from the service or the command line could carry line breaks or terminal escape
// sequences that forge report lines or restyle the console; they print as U+FFFD instead. Tabs stay.
bool is_control(unsigned char c) { return (c < 0x20 && c != '\t') || c == 0x7F; }

void write(std::string_view text, bool end_line)
{
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        if (is_control(static_cast<unsigned char>(c)))
            append_utf8(shown, replacement_character);
        else
            shown += c;
    }
    if (end_line)
        shown += '\n';
    // A write that failed before, ours or anyone's, must not silence the lines that follow.
    std::cout.clear();
    std::cout << shown << std::flush;
}

} // namespace

std::string utf16_to_utf8(std::u16string_view units)
{
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (is_high_surrogate(unit) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
            const char32_t high = unit - 0xD800u;
            const char32_t low = units[i + 1] - 0xDC00u;
            append_utf8(out, 0x10000 + (high << 10) + low);
            ++i;
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            append_utf8(out, replacement_character);
        } else {
            append_utf8(out, unit);
        }
    }
    return out;
}

void write_line(std::string_view text) { write(text, true); }

void write_text(std::string_view text) { write(text, false); }

} // namespace helper_cli
