// Files in use leave the install folder before they are registered for deletion at restart, as Windows
// Installer does with them: Windows lets a loaded program or library be renamed, so the install folder can go
// now, a client reinstalled before the restart keeps its new files, and the deletion at restart follows a path
// that only administrators control.
#pragma once

#include <windows.h>

#include <string>

namespace cleaner {

// The folder at the root of each volume that holds the moved files until Windows restarts. At the root: on the
// file's own volume (a rename, never a copy), at a place no link can stand above and nobody can rename.
extern const wchar_t kRestartFolderName[];

// Moves `file` (open with DELETE access; `path` its full path) under a new unique name into that folder on its
// own volume, and registers the moved file, and then the folder, for deletion at restart. The folder is made
// with owner Administrators and a protected DACL (SYSTEM and Administrators); one made by an earlier run, or
// planted, is used only while it and the volume's root still pass protected_all_the_way(). 0, or the Windows
// error; `moved` says whether the file left its folder all the same (then it waits, unregistered, in the
// restart folder, and its old path must not be registered: a reinstalled client may put a file there).
DWORD move_out_for_restart(HANDLE file, const std::wstring& path, bool& moved);

} // namespace cleaner
