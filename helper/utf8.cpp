#include "helper/helper_wire.h"

#include <cstddef>
#include <utility>

namespace helper_wire {

namespace {

// One well-formed sequence: its length, the smallest code point it may carry (below is an overlong form) and
// the bits of its lead byte.
struct sequence_form {
    std::size_t length = 0;
    char32_t minimum = 0;
    char32_t lead_bits = 0;
};

bool form_of(unsigned char lead, sequence_form& form)
{
    if (lead < 0x80) {
        form = {1, 0, lead};
        return true;
    }
    if ((lead & 0xE0) == 0xC0) {
        form = {2, 0x80, static_cast<char32_t>(lead & 0x1F)};
        return true;
    }
    if ((lead & 0xF0) == 0xE0) {
        form = {3, 0x800, static_cast<char32_t>(lead & 0x0F)};
        return true;
    }
    if ((lead & 0xF8) == 0xF0) {
        form = {4, 0x10000, static_cast<char32_t>(lead & 0x07)};
        return true;
    }
    return false;  // a continuation byte in lead position, or 0xF8 and above
}

bool is_surrogate(char32_t code_point) { return code_point >= 0xD800 && code_point <= 0xDFFF; }

// Decodes the sequence at text[at]; false when it is truncated, overlong, a surrogate or above U+10FFFF.
bool decode_one(const unsigned char* text, std::size_t& at, char32_t& code_point)
{
    sequence_form form;
    if (!form_of(text[at], form))
        return false;
    char32_t value = form.lead_bits;
    for (std::size_t i = 1; i < form.length; ++i) {
        const unsigned char next = text[at + i];  // the terminator is no continuation byte, so this stops there
        if ((next & 0xC0) != 0x80)
            return false;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < form.minimum || is_surrogate(value) || value > 0x10FFFF)
        return false;
    at += form.length;
    code_point = value;
    return true;
}

void append_utf16(std::u16string& units, char32_t code_point)
{
    if (code_point < 0x10000) {
        units.push_back(static_cast<char16_t>(code_point));
        return;
    }
    const char32_t offset = code_point - 0x10000;
    units.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
    units.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
}

} // namespace

bool utf8_to_utf16(const char* text, std::u16string& units)
{
    units.clear();
    if (text == nullptr)
        return true;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    std::u16string converted;
    std::size_t at = 0;
    while (bytes[at] != 0) {
        char32_t code_point = 0;
        if (!decode_one(bytes, at, code_point))
            return false;
        append_utf16(converted, code_point);
    }
    units = std::move(converted);
    return true;
}

} // namespace helper_wire
