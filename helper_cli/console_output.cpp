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

// Names and texts from the service, the agent or the command line could carry line breaks or terminal escape
// sequences (C0 and C1 controls alike) that forge report lines or restyle the console; they print as U+FFFD
// instead. Tabs stay.
bool is_control(char32_t code_point)
{
    return (code_point < 0x20 && code_point != '\t') || code_point == 0x7F ||
           (code_point >= 0x80 && code_point <= 0x9F);
}

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence that starts at `at` (0 when there is none) and its code point.
std::size_t utf8_sequence(std::string_view text, std::size_t at, char32_t& code_point)
{
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    char32_t lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        lowest = 0x80;
        code_point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lowest = 0x800;
        code_point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lowest = 0x10000;
        code_point = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        if (!is_continuation(next))
            return 0;
        code_point = (code_point << 6) | (next & 0x3F);
    }
    const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
    return code_point < lowest || code_point > 0x10FFFF || surrogate ? 0 : length;
}

// The character at `at`: its length and code point. A byte outside UTF-8 stands for itself, text of some code
// page, where 0x80 to 0x9F are the C1 controls.
std::size_t next_character(std::string_view text, std::size_t at, char32_t& code_point)
{
    const unsigned char first = static_cast<unsigned char>(text[at]);
    code_point = first;
    if (first < 0x80)
        return 1;
    char32_t decoded = 0;
    const std::size_t length = utf8_sequence(text, at, decoded);
    if (length == 0)
        return 1;
    code_point = decoded;
    return length;
}

void write(std::string_view text, bool end_line)
{
    std::string shown = printable(text);
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

std::string printable(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t code_point = 0;
        const std::size_t length = next_character(text, at, code_point);
        if (is_control(code_point))
            append_utf8(shown, replacement_character);
        else
            shown.append(text.substr(at, length));
        at += length;
    }
    return shown;
}

void write_line(std::string_view text) { write(text, true); }

void write_text(std::string_view text) { write(text, false); }

} // namespace helper_cli
