// Deleting one open file or folder on a live machine: POSIX semantics where the system has them, the
// attributes of a file with other names left alone, and deletion at restart for a file in use.
#pragma once

#include <windows.h>

#include <string>

namespace cleaner {

// What the folder walk answers for an entry it left for deletion at restart: the walk goes on, and the
// folders above the entry are scheduled after it.
const DWORD kScheduledForRestart = ERROR_SUCCESS_REBOOT_REQUIRED;

// Clears read-only, hidden and system, so that even the classic deletion takes the file. A file with more than
// one name (hard links) keeps its attributes: they are those of every name, also of one outside the folder.
// False (last error set) when the attributes could not be read or changed.
bool make_deletable(HANDLE file);

// Marks an open file, link or folder for deletion. Where the system knows them, with POSIX semantics (the
// name goes at once, even while a scanner holds the file open) and whatever its read-only attribute; elsewhere
// the classic way, which a read-only file refuses with ERROR_FILE_READ_ONLY. 0 or the Windows error.
DWORD dispose(HANDLE handle);

// The same for an emptied folder. A file deleted the classic way stays listed while someone holds it open,
// and its folder refuses with ERROR_DIR_NOT_EMPTY: it is tried again once its listing is empty, for at most
// 2 seconds.
DWORD dispose_folder(HANDLE folder);

// Opens the file at `path` for deletion (a link as the link itself) and disposes of it. 0 or the error.
DWORD delete_file_at(const std::wstring& path);

// A file that a running program holds without delete sharing (32), or a loaded program or library (5).
bool is_in_use(DWORD error);

// Registers `path` for deletion when Windows restarts: a file, or a folder that will be empty by then (its
// files registered before it). 0 or the error.
DWORD delete_at_restart(const std::wstring& path);

} // namespace cleaner
