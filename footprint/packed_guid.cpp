#include "footprint/packed_guid.h"

#include <algorithm>

namespace ferrolink {

namespace {

const size_t kBareLength = 36;
const size_t kDigitCount = 32;

bool is_hex_digit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool is_dash_position(size_t index)
{
    return index == 8 || index == 13 || index == 18 || index == 23;
}

bool is_bare_guid(const std::wstring& text)
{
    if (text.size() != kBareLength)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool ok = is_dash_position(i) ? text[i] == L'-' : is_hex_digit(text[i]);
        if (!ok)
            return false;
    }
    return true;
}

// The packing permutes the 32 digits and is its own inverse.
void permute(std::wstring& digits)
{
    std::reverse(digits.begin(), digits.begin() + 8);
    std::reverse(digits.begin() + 8, digits.begin() + 12);
    std::reverse(digits.begin() + 12, digits.begin() + 16);
    for (size_t i = 16; i < kDigitCount; i += 2)
        std::swap(digits[i], digits[i + 1]);
}

} // namespace

std::wstring to_packed_guid(const std::wstring& bare_guid)
{
    if (!is_bare_guid(bare_guid))
        return std::wstring();

    std::wstring digits;
    digits.reserve(kDigitCount);
    for (wchar_t c : bare_guid) {
        if (c != L'-')
            digits += c;
    }

    permute(digits);
    return digits;
}

std::wstring from_packed_guid(const std::wstring& packed)
{
    if (packed.size() != kDigitCount || !std::all_of(packed.begin(), packed.end(), is_hex_digit))
        return std::wstring();
    std::wstring digits = packed;
    permute(digits);
    return L"{" + digits.substr(0, 8) + L"-" + digits.substr(8, 4) + L"-" + digits.substr(12, 4) + L"-" +
           digits.substr(16, 4) + L"-" + digits.substr(20) + L"}";
}

} // namespace ferrolink
