// The registry key operand of the interpreter ("HKLM\SOFTWARE\...") and the root labels of its reports.
#pragma once

#include <cstdint>
#include <string>

namespace helper_cli {

// Splits `key` at its first backslash into a root from registry_root_names (exact name) and the subkey
// behind it, which may be empty. False, with the outputs untouched, when there is no backslash or the
// root name is unknown.
bool parse_registry_key(const char* key, std::uint64_t& root, std::string& subkey);

// The short name of `root` from registry_root_labels, else its value in decimal.
std::u16string registry_root_label(std::uint64_t root);

} // namespace helper_cli
