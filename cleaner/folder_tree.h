#pragma once

#include <windows.h>

#include <string>

namespace cleaner {

// Deletes `path` with everything below it, depth first, logging every file and folder it tries.
// 0 when the tree is gone (or was never there), else the error code of the first operation that failed;
// the first failure ends the whole deletion. Names are used exactly as the folder lists them (never through
// a narrow conversion), each folder is held open while it is walked so that it cannot be swapped, and links
// (junctions, symbolic links, mount points) are removed as links and never followed.
[[nodiscard]] DWORD delete_folder_tree(const std::wstring& path);

} // namespace cleaner
