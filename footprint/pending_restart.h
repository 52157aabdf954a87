// What Windows deletes only when it restarts: files and folders registered for deletion at restart, and
// services that DeleteService could only mark. Read only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace ferrolink {

// The Win32 paths that PendingFileRenameOperations (and PendingFileRenameOperations2) register for deletion
// at restart, in their order; empty when there are none or they cannot be read.
std::vector<std::wstring> paths_pending_deletion();

// The deletions in one such value: pairs of NT paths, a source and a target, where an empty target deletes the
// source; a pair with an empty source ends the list. Sources in the "\??\" form come back as Win32 paths.
std::vector<std::wstring> deletions_in(const wchar_t* text, size_t characters);

// Whether `path` is one of `pending`, compared as the file system compares names (ignoring case).
bool is_pending_deletion(const std::wstring& path, const std::vector<std::wstring>& pending);

// Whether the Service Control Manager has marked the service for deletion (its "DeleteFlag").
bool service_marked_for_deletion(const wchar_t* name);

} // namespace ferrolink
