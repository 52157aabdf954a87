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

// What a file in use (held without delete sharing, or a loaded program or library) does to the walk.
enum class in_use_files {
    fail,               // it ends the walk with its error
    delete_at_restart,  // it and then its folders are registered for deletion at restart, "restart_required"
                        // is set, and the walk goes on; a tree whose rest is gone counts as deleted (0)
};

[[nodiscard]] DWORD delete_folder_tree(const std::wstring& path, in_use_files in_use);

} // namespace cleaner
