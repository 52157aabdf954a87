#include "hex.h"

namespace protection_double {

namespace {

int digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string to_hex(const unsigned char* data, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(digits[data[i] >> 4]);
        text.push_back(digits[data[i] & 0x0F]);
    }
    return text;
}

std::string to_hex(const bytes& data)
{
    return to_hex(data.data(), data.size());
}

bool from_hex(std::string_view text, bytes& out)
{
    if (text.size() % 2 != 0)
        return false;
    bytes decoded;
    decoded.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = digit_value(text[i]);
        const int low = digit_value(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        decoded.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    out.swap(decoded);
    return true;
}

} // namespace protection_double
