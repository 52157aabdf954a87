// Wide names turned into the narrow text of the active code page: exactly, for the narrow calls that must
// name the very same object, or for display, for the run log.
#pragma once

#include <windows.h>

#include <string>

namespace cleaner {

// `text` in `code_page`, only when every character converts to itself: no best-fit lookalike, no default
// character. Uses the flags that the code page allows (UTF-8 takes neither best-fit flags nor a default).
bool to_code_page_exactly(UINT code_page, const wchar_t* text, std::string& narrow);

// `text` as the run log shows it: the active code page, the same bytes the narrow calls gave for any name it
// can hold; a character it cannot hold shows as "?", never as a lookalike that reads as something else.
std::string to_log_text(const std::wstring& text);

} // namespace cleaner
