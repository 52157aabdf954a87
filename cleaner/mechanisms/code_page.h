// Wide names turned into the narrow text of the active code page, exactly, for the narrow calls that must
// name the very same object.
#pragma once

#include <windows.h>

#include <string>

namespace cleaner {

// `text` in `code_page`, only when every character converts to itself: no best-fit lookalike, no default
// character. Uses the flags that the code page allows (UTF-8 takes neither best-fit flags nor a default).
bool to_code_page_exactly(UINT code_page, const wchar_t* text, std::string& narrow);

} // namespace cleaner
