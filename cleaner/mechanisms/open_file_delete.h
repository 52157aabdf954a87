// Deleting a file through a handle already checked to be the right one, so that no name is looked up again.
#pragma once

#include <windows.h>

namespace cleaner {

// Deletes the file that `file` is open on (with DELETE and FILE_WRITE_ATTRIBUTES access) once the handle closes;
// read-only, hidden and system attributes are cleared first. 0 or the Windows error.
DWORD delete_open_file(HANDLE file);

} // namespace cleaner
