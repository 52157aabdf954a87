#include "helper_cli/console_output.h"

#include "mcl/utf8.h"

#include <cstddef>
#include <iostream>

namespace helper_cli {

namespace {

// Names and texts from the service, the agent or the command line could carry line breaks or terminal escape
// sequences (C0 and C1 controls alike) that forge report lines or restyle the console; they print as U+FFFD
// instead. Tabs stay.
bool is_control(char32_t code_point)
{
    return (code_point < 0x20 && code_point != '\t') || code_point == 0x7F ||
           (code_point >= 0x80 && code_point <= 0x9F);
}

// The character at `at`: its length and code point. A byte outside UTF-8 stands for itself, text of some code
// page, where 0x80 to 0x9F are the C1 controls; so an ill-formed sequence is taken one byte at a time.
std::size_t next_character(std::string_view text, std::size_t at, char32_t& code_point)
{
    const mcl::utf8_step step = mcl::next_utf8(text, at);
    if (step.well_formed) {
        code_point = step.code_point;
        return step.length;
    }
    code_point = static_cast<unsigned char>(text[at]);
    return 1;
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

std::string utf16_to_utf8(std::u16string_view units) { return mcl::utf16_to_utf8(units); }

std::string printable(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t code_point = 0;
        const std::size_t length = next_character(text, at, code_point);
        if (is_control(code_point))
            mcl::append_utf8(shown, mcl::replacement_character);
        else
            shown.append(text.substr(at, length));
        at += length;
    }
    return shown;
}

void write_line(std::string_view text) { write(text, true); }

void write_text(std::string_view text) { write(text, false); }

} // namespace helper_cli
