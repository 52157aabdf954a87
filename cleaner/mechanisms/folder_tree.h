#pragma once

#include "footprint/linkless_path.h"

#include <windows.h>

#include <string>

namespace cleaner {

// Deletes `path` with everything below it, depth first, logging every file and folder it tries.
// 0 when the tree is gone (or was never there), else the error code of the first operation that failed;
// the first failure ends the whole deletion. The folder is opened once, from its volume's root down, and no
// folder above it may be a link (ERROR_REPARSE_ATTRIBUTE_CONFLICT). Below it, every entry is opened by its
// name inside its held parent, never by path, with names used exactly as the folder lists them; each folder
// is held open while it is walked so that it cannot be swapped, and links (junctions, symbolic links, mount
// points) are removed as links and never followed.
[[nodiscard]] DWORD delete_folder_tree(const std::wstring& path);

// The same from `checked`, the folder as it was opened and checked (`path` is what the log shows).
[[nodiscard]] DWORD delete_folder_tree(const std::wstring& path, const ferrolink::held_item& checked);

// What a file in use (held without delete sharing, or a loaded program or library) does to the walk.
enum class in_use_files {
    fail,               // it ends the walk with its error
    delete_at_restart,  // it goes at restart and the walk goes on; "restart_required" is set. Moved out into
                        // the volume's restart folder first (restart_folder.h), it leaves its folders free to go
                        // now; where it cannot be moved it is registered where it is, and its folders after it,
                        // but only when every folder on its path is protected (folder_protection.h): else it is
                        // left, logged, and ends the walk with its error. A tree whose rest is gone counts as
                        // deleted (0).
};

[[nodiscard]] DWORD delete_folder_tree(const std::wstring& path, in_use_files in_use);
[[nodiscard]] DWORD delete_folder_tree(const std::wstring& path, const ferrolink::held_item& checked,
                                     in_use_files in_use);

} // namespace cleaner
