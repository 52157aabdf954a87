#include "cleaner/file_removal.h"

#include "cleaner/folder_tree.h"
#include "cleaner/footprint.h"
#include "cleaner/install_dir_check.h"
#include "cleaner/run_log.h"
#include "cleaner/shell_paths.h"
#include "mcl/mswin/unique_resource.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <string>

namespace cleaner {

namespace {

const wchar_t* const kInstallKey = footprint::install_key;
const DWORD kInstallDirBytes = 1024;

bool is_string_type(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A value of any other type holds bytes, which have always been taken as text of the active code page; they
// still are, converted exactly (narrow to wide loses nothing). False when they hold no terminated text.
bool bytes_as_text(const BYTE* bytes, wchar_t* text, int units)
{
    const void* end = std::memchr(bytes, 0, kInstallDirBytes);
    if (end == nullptr)
        return false;
    const int length = static_cast<int>(static_cast<const BYTE*>(end) - bytes) + 1;
    return ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes), length, text,
                                 units) != 0;
}

// The value is read wide, as stored: a narrow read would turn characters the code page lacks into
// lookalikes ("\uFF0E\uFF0E\uFF3C" into "..\\") before the path is checked and deleted.
bool registered_install_dir(std::wstring& folder)
{
    mcl::mswin::unique_hkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return false;
    wchar_t value[kInstallDirBytes / sizeof(wchar_t)] = {};
    DWORD type = REG_NONE;
    DWORD size = kInstallDirBytes;
    if (::RegQueryValueExW(key.get(), footprint::install_dir_value, nullptr, &type, reinterpret_cast<BYTE*>(value),
                           &size) != ERROR_SUCCESS)
        return false;
    const int units = static_cast<int>(kInstallDirBytes / sizeof(wchar_t));
    if (is_string_type(type))
        return usable_install_dir(value, units, folder);
    BYTE bytes[kInstallDirBytes] = {};
    std::memcpy(bytes, value, kInstallDirBytes);
    wchar_t text[kInstallDirBytes / sizeof(wchar_t)] = {};
    return bytes_as_text(bytes, text, units) && usable_install_dir(text, units, folder);
}

DWORD delete_install_folder()
{
    std::wstring folder;
    if (registered_install_dir(folder))
        return delete_folder_tree(folder);
    log_line("\tCan not find Ferrolink InstallDir in register,try to delete default path");
    const DWORD error =
        path_in_shell_folder(footprint::default_install_csidl, footprint::default_install_suffix, folder);
    return error != 0 ? error : delete_folder_tree(folder);
}

} // namespace

int delete_files()
{
    const DWORD result = delete_install_folder();
    if (result != 0) {
        log_line("\tFailed to delete file, lastError:%ld", static_cast<long>(static_cast<LONG>(result)));
        return 0;
    }
    log_line("\tDelete files succeed, lastError:0");
    return 1;
}

} // namespace cleaner
