// UTF-8 <-> UTF-16 for Windows strings (wchar_t), on the library's codec (mcl/utf8.h). As with the platform
// converter without MB_ERR_INVALID_CHARS or WC_ERR_INVALID_CHARS, nothing fails: an unpaired surrogate becomes
// U+FFFD, and so does each ill-formed character of UTF-8 (its maximal subpart, as Unicode recommends; how many
// U+FFFD the platform writes there is not documented).
#pragma once

#include <string>
#include <string_view>

namespace mcl::mswin {

// Empty when the input is empty.
std::wstring utf8_to_wide(std::string_view text);

// For wide texts that go into log lines; each unpaired surrogate becomes U+FFFD. Empty when the input is empty.
std::string wide_to_utf8(std::wstring_view text);

} // namespace mcl::mswin
