#include "mcl/mswin/utf.h"

#include <windows.h>

#include <climits>

namespace mcl::mswin {

std::wstring utf8_to_wide(std::string_view text)
{
    if (text.empty() || text.size() > INT_MAX)
        return std::wstring();
    const int length = static_cast<int>(text.size());
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (units <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &wide[0], units) != units)
        return std::wstring();
    return wide;
}

std::string wide_to_utf8(std::wstring_view text)
{
    if (text.empty() || text.size() > INT_MAX)
        return std::string();
    const int length = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return std::string();
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    if (::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &narrow[0], bytes, nullptr, nullptr) != bytes)
        return std::string();
    return narrow;
}

} // namespace mcl::mswin
