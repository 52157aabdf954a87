// Registrations for deletion at restart that a test or the demo leaves: they must not outlive it, or the prefix
// would act on them when it next restarts.
#pragma once

#include <windows.h>

#include <string>

namespace fake_client {

// Removes from PendingFileRenameOperations every pair whose source is `path` or lies below it (the value
// itself when nothing else is left). 0, also when there is no such value; else the error.
DWORD forget_pending_renames(const std::wstring& path);

} // namespace fake_client
