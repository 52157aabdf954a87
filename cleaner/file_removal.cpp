#include "cleaner/file_removal.h"

#include "cleaner/folder_tree.h"
#include "cleaner/footprint.h"
#include "cleaner/install_dir_check.h"
#include "cleaner/run_log.h"
#include "cleaner/shell_paths.h"
#include "mcl/mswin/unique_resource.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace cleaner {

namespace {

const wchar_t* const kInstallKey = footprint::install_key;
const DWORD kInstallDirBytes = 1024;

// The value is read wide, as stored: a narrow read would turn characters the code page lacks into
// lookalikes ("\uFF0E\uFF0E\uFF3C" into "..\\") before the path is checked and deleted.
bool registered_install_dir(std::wstring& folder)
{
    mcl::mswin::unique_hkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return false;
    wchar_t value[kInstallDirBytes / sizeof(wchar_t)] = {};
    DWORD size = kInstallDirBytes;
    if (::RegQueryValueExW(key.get(), footprint::install_dir_value, nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                           &size) != ERROR_SUCCESS)
        return false;
    return usable_install_dir(value, kInstallDirBytes / sizeof(wchar_t), folder);
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
