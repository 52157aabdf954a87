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

} // namespace cleaner
