// Bytes as lower-case hex pairs without separators, the form of payloads in the double's script and log.
// Pure logic.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace protection_double {

using bytes = std::vector<unsigned char>;

std::string to_hex(const unsigned char* data, std::size_t size);
std::string to_hex(const bytes& data);

// Accepts upper- and lower-case digits. False, and `out` untouched, for an odd length or a non-hex character.
bool from_hex(std::string_view text, bytes& out);

} // namespace protection_double
