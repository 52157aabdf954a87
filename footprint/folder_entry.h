// Opening a file or folder by its name inside a folder that is already open, never through a link: what a
// walk down from a checked folder needs so that nothing swapped in on the way can lead it elsewhere.
#pragma once

#include "mcl/mswin/unique_resource.h"

#include <windows.h>

#include <string>

namespace ferrolink {

enum class entry_kind { folder, file };

// Opens `name` (one path component) inside the open `folder` as the entry itself: a link or junction there is
// opened as the link. 0, or the Windows error (ERROR_FILE_NOT_FOUND when there is no such entry, ERROR_PATH_NOT_FOUND
// when `folder` is gone, ERROR_DIRECTORY or ERROR_ACCESS_DENIED when it is of the other kind).
DWORD open_in_folder(HANDLE folder, const std::wstring& name, entry_kind kind, ACCESS_MASK access,
                     mcl::mswin::unique_handle& entry);

// Opens the folder at `path` for walking down from it (listing and traversing, with its attributes).
DWORD open_folder_for_walk(const std::wstring& path, mcl::mswin::unique_handle& folder);

// Whether the open entry is a link of any kind (a reparse point), and so nothing to walk into; also true when its
// attributes cannot be read.
bool is_link(HANDLE entry);

} // namespace ferrolink
