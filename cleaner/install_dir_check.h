#pragma once

#include <cstddef>
#include <string>

namespace cleaner {

// Whether the registered InstallDir, as read into its cleared buffer of `size` bytes, names a folder that
// may be deleted whole: terminated inside the buffer, non-empty, absolute (drive letter and backslash, or
// UNC), not a drive or share root, and neither a shell folder (Windows, Program Files, profiles...) nor a
// folder that holds one. `folder` gets the text as registered.
bool usable_install_dir(const char* buffer, std::size_t size, std::string& folder);

} // namespace cleaner
