// Who can change a folder. What is registered for deletion at restart is deleted by its path, as SYSTEM, while
// Windows starts: nobody but the machine's administrators may be able to swap a folder on that path for a link
// before then.
#pragma once

#include <windows.h>

#include <string>

namespace cleaner {

// Whether only SYSTEM, Administrators, TrustedInstaller or the run's own account can change the open folder
// (opened with READ_CONTROL): it is owned by one of them, and its DACL grants nobody else the rights to
// delete or rename it, to add, remove or rename what it holds, to make it a link, or to change its owner or
// DACL. At a volume's root, adding entries is allowed: every system volume lets users create folders there,
// and what the root holds cannot be replaced without the right to remove it.
bool only_administrators_change(HANDLE folder, bool volume_root);

// Whether every folder from the volume's root down to `folder` itself (a full path, "\\?\" form allowed) is
// a plain folder (no link) that only they can change.
bool protected_all_the_way(const std::wstring& folder);

// Whether `path` (a full path, "\\?\" form allowed) lies on a share or a mapped network drive. Windows runs the
// deletions registered for the restart before the network is up, so nothing there can go that way.
bool on_network_volume(const std::wstring& path);

} // namespace cleaner
