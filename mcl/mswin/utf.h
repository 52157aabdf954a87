// UTF-8 <-> UTF-16 with the platform converter.
#pragma once

#include <string>
#include <string_view>

namespace mcl::mswin {

// Empty when the input is empty or cannot be converted (invalid sequences become U+FFFD).
std::wstring utf8_to_wide(std::string_view text);

// For wide texts that go into log lines. Empty when the input is empty or cannot be converted.
std::string wide_to_utf8(std::wstring_view text);

} // namespace mcl::mswin
