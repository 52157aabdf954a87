#include "cleaner/shortcut_removal.h"

#include "cleaner/folder_tree.h"
#include "cleaner/run_log.h"
#include "cleaner/shell_paths.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace cleaner {

namespace {

struct shortcut_file {
    int csidl;
    const char* suffix;
};

const shortcut_file kShortcutFiles[] = {
    {CSIDL_COMMON_STARTMENU, "\\Orvane Ferrolink.lnk"},
    {CSIDL_APPDATA, "\\Microsoft\\Internet Explorer\\Quick Launch\\Orvane Ferrolink.lnk"},
    {CSIDL_COMMON_DESKTOPDIRECTORY, "\\Orvane Ferrolink.lnk"},
};

DWORD delete_program_group()
{
    std::string group;
    const DWORD error = path_in_shell_folder(CSIDL_COMMON_PROGRAMS, "\\Orvane Ferrolink", group);
    return error != 0 ? error : delete_folder_tree(group.c_str());
}

// False ends the step. A missing file is fine; a missing folder on its path is not.
bool delete_shortcut_file(const shortcut_file& shortcut)
{
    std::string path;
    if (path_in_shell_folder(shortcut.csidl, shortcut.suffix, path) != 0) {
        log_line("\tCan not SetFileAttributes file:%s", path.c_str());
        return false;
    }
    if (!::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL)) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) {
            log_line("\tFile [%s] not found or already deleted", path.c_str());
            return true;
        }
        log_line("\tCan not SetFileAttributes file:%s", path.c_str());
        return false;
    }
    log_text("\tTry to delete file [%s]...", path.c_str());
    const bool deleted = ::DeleteFileA(path.c_str()) != FALSE;
    log_line(deleted ? "succeed" : "failed");
    return deleted;
}

} // namespace

int delete_shortcuts()
{
    const DWORD result = delete_program_group();
    if (result != 0) {
        log_line("Failed to delete file, lastError:%ld", static_cast<long>(static_cast<LONG>(result)));
        return 0;
    }
    for (const shortcut_file& shortcut : kShortcutFiles) {
        if (!delete_shortcut_file(shortcut))
            return 0;
    }
    return 1;
}

} // namespace cleaner
