// The client's installation folder and its registration (InstallDir).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace fake_client {

// The folder the client installs to when nothing else is registered:
// 32-bit Program Files + "\Orvane\SSL-VPN\Ferrolink".
std::wstring default_install_folder();

// Fills `folder` (made with its parents) with a small installation: files at the top, nested folders,
// a read-only file and a hidden one. 0 or the error code.
DWORD make_install_tree(const std::wstring& folder);

// Deletes `folder` with everything below it (read-only files included). 0, also when it is missing.
DWORD remove_install_tree(const std::wstring& folder);

// Everything below `folder` as paths relative to it, folders ending in "\", in search order.
std::vector<std::wstring> list_tree(const std::wstring& folder);

// Writes "InstallDir" under HKLM\Software\Orvane\SSL-VPN Ferrolink\Standalone (64-bit view).
DWORD register_install_dir(const std::wstring& folder);
// The same value with any type and raw content, for damaged registrations.
DWORD set_install_dir_value(DWORD type, const void* data, DWORD size);
// Deletes the value, then the keys above it as far as they are empty. 0 also when it is missing.
DWORD unregister_install_dir();
// The value as text (REG_SZ), empty when it is missing.
std::wstring registered_install_dir();

} // namespace fake_client
