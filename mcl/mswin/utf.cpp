#include "mcl/mswin/utf.h"

#include "mcl/utf8.h"

namespace mcl::mswin {

std::wstring utf8_to_wide(std::string_view text)
{
    std::wstring wide;
    utf8_to_utf16(text, wide, ill_formed::replace);
    return wide;
}

std::string wide_to_utf8(std::wstring_view text) { return utf16_to_utf8(text); }

} // namespace mcl::mswin
