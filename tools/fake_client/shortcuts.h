// The client's shortcuts: the Start-menu program group and the three shortcut files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace fake_client {

struct shortcut_paths {
    std::wstring program_group;  // common programs\Orvane Ferrolink (a folder)
    std::wstring start_menu;     // common start menu\Orvane Ferrolink.lnk
    std::wstring quick_launch;   // roaming application data\...\Quick Launch\Orvane Ferrolink.lnk
    std::wstring desktop;        // common desktop\Orvane Ferrolink.lnk
};

shortcut_paths client_shortcut_paths();

// Makes the program group (with two shortcuts in it) and the three shortcut files, all pointing at
// `target`. A missing Quick Launch folder is left missing (that shortcut is then not made). 0 or the error.
DWORD make_shortcuts(const std::wstring& target);

// A shell shortcut file at `path` that points at `target`. 0 or the error (an HRESULT's code).
DWORD make_shortcut(const std::wstring& path, const std::wstring& target);

// The four paths above that exist.
std::vector<std::wstring> existing_shortcuts();

// Deletes the program group and the three files. 0 or the first error.
DWORD remove_shortcuts();

} // namespace fake_client
