#include "cleaner/steps/install_folder.h"

#include "cleaner/mechanisms/folder_tree.h"
#include "footprint/install_dir.h"
#include "cleaner/run_log.h"

#include <windows.h>

#include <string>

namespace cleaner {

namespace {

// The client's programs and libraries may still be loaded (by a scanner, by Explorer): what is in use goes at
// the next restart, and the rest of the folder now.
DWORD delete_install_folder()
{
    const ferrolink::registered_install_dir registered = ferrolink::read_install_dir();
    if (registered.usable() && registered.checked.item)
        return delete_folder_tree(registered.folder, registered.checked, in_use_files::delete_at_restart);
    if (registered.usable())
        return delete_folder_tree(registered.folder, in_use_files::delete_at_restart);
    log_line("\tCan not find Ferrolink InstallDir in register,try to delete default path");
    std::wstring folder;
    const DWORD error = ferrolink::default_install_dir(folder);
    return error != 0 ? error : delete_folder_tree(folder, in_use_files::delete_at_restart);
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
