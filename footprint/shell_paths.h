// The shell's special folders, and paths below them as the file and shortcut steps form them.
#pragma once

#include <windows.h>

#include <string>

namespace ferrolink {

// The shell folder `csidl`, asked for and never created; empty when the shell has no such folder.
std::wstring shell_folder(int csidl);

// `folder` + `suffix` into `path`: 0 when the whole path fits a MAX_PATH buffer, else
// ERROR_FILENAME_EXCED_RANGE (`path` still holds all of it, for the log line; it must not be used).
DWORD join_within_max_path(const std::wstring& folder, const wchar_t* suffix, std::wstring& path);

// The shell folder `csidl` followed by `suffix`. 0, or ERROR_PATH_NOT_FOUND when the shell has no such folder
// (`path` is then just the suffix), or the error of join_within_max_path.
DWORD path_in_shell_folder(int csidl, const wchar_t* suffix, std::wstring& path);

} // namespace ferrolink
