#pragma once

#include <windows.h>

namespace cleaner {

// Deletes `path` with everything below it, depth first, logging every file and folder it tries.
// 0 when the tree is gone (or was never there), else the error code of the first operation that failed;
// the first failure ends the whole deletion. Links (junctions, symbolic links, mount points) are removed
// as links and never followed.
DWORD delete_folder_tree(const char* path);

} // namespace cleaner
