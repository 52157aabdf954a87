#include "cleaner/steps/shortcuts.h"

#include "cleaner/mechanisms/file_disposal.h"
#include "cleaner/mechanisms/folder_tree.h"
#include "cleaner/steps/shortcuts_other_users.h"
#include "footprint/footprint.h"
#include "cleaner/run_log.h"
#include "footprint/shell_paths.h"
#include "mcl/mswin/unique_resource.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace cleaner {

namespace {

using shortcut_file = ferrolink::shell_item;

const auto& kShortcutFiles = ferrolink::shortcut_files;

DWORD delete_program_group()
{
    std::wstring group;
    const ferrolink::shell_item& where = ferrolink::program_group;
    const DWORD error = ferrolink::path_in_shell_folder(where.csidl, where.suffix, group);
    return error != 0 ? error : delete_folder_tree(group);
}

// Clears the shortcut's attributes through a handle on the file itself, so that a link there loses only its
// own, and a file with other names keeps them; the error is the one a failed attribute change would give.
DWORD clear_attributes(const std::wstring& path)
{
    const mcl::mswin::unique_handle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        return ::GetLastError();
    return make_deletable(file.get()) ? 0 : ::GetLastError();
}

// A shortcut whose folder does not exist is not there either: the Quick Launch folder is missing from most
// profiles that never logged on interactively, SYSTEM's among them.
bool is_absent(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// False ends the step. A missing file is fine, and so is a missing folder on its path.
bool delete_shortcut_file(const shortcut_file& shortcut)
{
    std::wstring path;
    if (ferrolink::path_in_shell_folder(shortcut.csidl, shortcut.suffix, path) != 0) {
        log_line("\tCan not SetFileAttributes file:%s", wide_to_utf8(path).c_str());
        return false;
    }
    const DWORD error = clear_attributes(path);
    if (is_absent(error)) {
        log_line("\tFile [%s] not found or already deleted", wide_to_utf8(path).c_str());
        return true;
    }
    if (error != 0) {
        log_line("\tCan not SetFileAttributes file:%s", wide_to_utf8(path).c_str());
        return false;
    }
    log_text("\tTry to delete file [%s]...", wide_to_utf8(path).c_str());
    const bool deleted = delete_file_at(path) == 0;
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
    return delete_profile_shortcuts();
}

} // namespace cleaner
