// Where the client is installed: the folder its installer registered, or the default one.
#pragma once

#include "footprint/footprint.h"
#include "footprint/install_dir_guard.h"

#include <windows.h>

#include <string>

namespace ferrolink {

// The registered InstallDir as the removal reads it, and the guard's verdict on it.
struct registered_install_dir {
    // Opening the install key and reading the value: ERROR_FILE_NOT_FOUND when either is missing,
    // ERROR_MORE_DATA when the value does not fit the 1024 bytes read.
    LONG status = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    // The value as text (a value of a non-string type as text of the active code page); empty if none.
    std::wstring folder;
    install_dir_verdict verdict = install_dir_verdict::empty;
    // A usable folder that exists, open as it was checked: the removal walks from it, never from the path again.
    held_item checked;
    // Where it was read: the install key of the 64-bit view, or of the 32-bit view when the 64-bit one has none;
    // and the product key (row 1) of that view.
    const wchar_t* key = install_key;
    const wchar_t* product_key = client_keys[0].path;

    bool read() const { return status == ERROR_SUCCESS; }
    bool usable() const { return read() && verdict == install_dir_verdict::usable; }
};

// Reads InstallDir from the install key in the 64-bit view, or in the 32-bit view when the 64-bit one has no
// such key or value, wide as stored, and checks it with the guard.
registered_install_dir read_install_dir();

// The default installation folder (below the 32-bit program files folder): 0, or the error of forming it.
DWORD default_install_dir(std::wstring& folder);

} // namespace ferrolink
