// Installer\Folders: the folders that Windows Installer created, each a value named by the folder's path.
#pragma once

#include <string>
#include <vector>

namespace ferrolink {

// The entries (value names, such as "C:\Windows\Installer\{...}\") that name one of `folders` or a folder below
// it, compared ignoring letter case, in the order listed.
std::vector<std::wstring> folder_entries_under(const std::vector<std::wstring>& folders);

} // namespace ferrolink
