#include "mcl/utf8.h"

#include <utility>

namespace mcl {

namespace {

// The bytes a well-formed sequence may continue with after its lead: the second byte's range depends on the
// lead (it rules out overlong forms, surrogates and code points above U+10FFFF), every later byte is 80 to BF.
struct sequence_form {
    std::size_t length = 0;  // 0: the byte begins no sequence
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
    char32_t lead_bits = 0;
};

sequence_form form_of(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return {2, 0x80, 0xBF, static_cast<char32_t>(lead & 0x1F)};
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        return {3, low, high, static_cast<char32_t>(lead & 0x0F)};
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        return {4, low, high, static_cast<char32_t>(lead & 0x07)};
    }
    return {};
}

bool is_high_surrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

template <typename Unit>
void append_utf16(std::basic_string<Unit>& units, char32_t code_point)
{
    if (code_point < 0x10000) {
        units.push_back(static_cast<Unit>(code_point));
        return;
    }
    const char32_t offset = code_point - 0x10000;
    units.push_back(static_cast<Unit>(0xD800 + (offset >> 10)));
    units.push_back(static_cast<Unit>(0xDC00 + (offset & 0x3FF)));
}

template <typename Unit>
bool to_utf16(std::string_view text, std::basic_string<Unit>& units, ill_formed policy)
{
    units.clear();
    std::basic_string<Unit> converted;
    converted.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const utf8_step step = next_utf8(text, at);
        if (!step.well_formed && policy == ill_formed::fail)
            return false;
        append_utf16(converted, step.well_formed ? step.code_point : replacement_character);
        at += step.length;
    }
    units = std::move(converted);
    return true;
}

template <typename Unit>
std::string from_utf16(std::basic_string_view<Unit> units)
{
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char32_t unit = static_cast<char16_t>(units[i]);
        const char32_t next = i + 1 < units.size() ? static_cast<char16_t>(units[i + 1]) : 0;
        if (is_high_surrogate(unit) && is_low_surrogate(next)) {
            append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
            ++i;
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            append_utf8(out, replacement_character);
        } else {
            append_utf8(out, unit);
        }
    }
    return out;
}

} // namespace

utf8_step next_utf8(std::string_view text, std::size_t at)
{
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80)
        return {1, true, lead};
    const sequence_form form = form_of(lead);
    if (form.length == 0)
        return {1, false, 0};
    char32_t value = form.lead_bits;
    for (std::size_t i = 1; i < form.length; ++i) {
        if (at + i >= text.size())
            return {i, false, 0};
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        const unsigned char low = i == 1 ? form.second_low : 0x80;
        const unsigned char high = i == 1 ? form.second_high : 0xBF;
        if (next < low || next > high)
            return {i, false, 0};
        value = (value << 6) | (next & 0x3F);
    }
    return {form.length, true, value};
}

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

bool utf8_to_utf16(std::string_view text, std::u16string& units, ill_formed policy)
{
    return to_utf16(text, units, policy);
}

std::string utf16_to_utf8(std::u16string_view units) { return from_utf16(units); }

#if WCHAR_MAX == 0xFFFF
bool utf8_to_utf16(std::string_view text, std::wstring& units, ill_formed policy)
{
    return to_utf16(text, units, policy);
}

std::string utf16_to_utf8(std::wstring_view units) { return from_utf16(units); }
#endif

} // namespace mcl
