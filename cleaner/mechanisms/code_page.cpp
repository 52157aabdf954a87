#include "cleaner/mechanisms/code_page.h"

namespace cleaner {

namespace {

// UTF-8 (and the other stateful or multi-byte forms Windows treats alike) refuse WC_NO_BEST_FIT_CHARS and
// a used-default pointer; UTF-8 reports what it cannot encode (lone surrogates) as an error instead.
bool is_utf8(UINT code_page)
{
    return code_page == CP_UTF8 || (code_page == CP_ACP && ::GetACP() == CP_UTF8);
}

std::string convert(UINT code_page, const wchar_t* text, DWORD flags, BOOL* used_default)
{
    const int bytes = ::WideCharToMultiByte(code_page, flags, text, -1, nullptr, 0, nullptr, used_default);
    if (bytes <= 1)
        return std::string();
    std::string narrow(static_cast<size_t>(bytes), '\0');
    if (::WideCharToMultiByte(code_page, flags, text, -1, &narrow[0], bytes, nullptr, used_default) != bytes)
        return std::string();
    narrow.resize(static_cast<size_t>(bytes) - 1);
    return narrow;
}

} // namespace

bool to_code_page_exactly(UINT code_page, const wchar_t* text, std::string& narrow)
{
    if (is_utf8(code_page)) {
        narrow = convert(code_page, text, WC_ERR_INVALID_CHARS, nullptr);
        return !narrow.empty();
    }
    BOOL lossy = FALSE;
    narrow = convert(code_page, text, WC_NO_BEST_FIT_CHARS, &lossy);
    return !narrow.empty() && !lossy;
}

} // namespace cleaner
