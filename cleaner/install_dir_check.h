#pragma once

#include <cstddef>
#include <string>

namespace cleaner {

// Whether the registered InstallDir, as read into its cleared buffer of `units` wide characters, names a folder
// that may be deleted whole: terminated inside the buffer, non-empty, absolute (drive letter and backslash, or
// UNC), no stream syntax, not a drive or share root, not an administrative share or a share of this machine,
// not a shell folder (Windows, Program Files, profiles...) nor a folder that holds one, and nothing inside the
// Windows folder, the profiles root or a user profile. Folders are compared by identity (volume and file id),
// so that no alias (8.3 name, another spelling, a path through a link) passes. `folder` gets the text as
// registered.
bool usable_install_dir(const wchar_t* buffer, std::size_t units, std::wstring& folder);

} // namespace cleaner
