#include "cleaner/steps/shortcuts_other_users.h"

#include "cleaner/mechanisms/file_disposal.h"
#include "cleaner/mechanisms/profile_line.h"
#include "footprint/folder_entry.h"
#include "footprint/footprint.h"
#include "footprint/quick_launch.h"
#include "footprint/user_profiles.h"
#include "mcl/mswin/unique_resource.h"

#include <string>

namespace cleaner {

namespace {

using ferrolink::appdata_kind;
using ferrolink::appdata_location;
using ferrolink::user_hive;
using ferrolink::user_profile;
using mcl::mswin::unique_handle;

// Where the user's AppData folder is, read from the user's own hive (loaded for the moment when the user is not
// logged on). 0, or the error of an unload that left the hive loaded.
DWORD find_appdata(const user_profile& profile, appdata_location& appdata, std::wstring& hive_file)
{
    user_hive hive(profile, kTemporaryHivePrefix + profile.sid, false);
    appdata = ferrolink::user_appdata(profile, &hive);
    hive_file = hive.file();
    return hive.unload();
}

// Deletes the shortcut in the open Quick Launch folder without following a link, and without changing the
// attributes of a file that has other names. 0 when there was none.
DWORD delete_shortcut_in(HANDLE folder)
{
    unique_handle file;
    const DWORD opened =
        ferrolink::open_in_folder(folder, ferrolink::quick_launch_shortcut, ferrolink::entry_kind::file,
                                  DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, file);
    if (opened != 0)
        return opened;
    return make_deletable(file.get()) ? dispose(file.get()) : ::GetLastError();
}

// The shortcut of one profile: 0 when there is nothing to delete, it was deleted or it is not walked; else the
// error, logged.
DWORD delete_profile_shortcut(const user_profile& profile)
{
    if (profile.skip != ferrolink::profile_skip::none)
        return 0;
    appdata_location appdata;
    std::wstring hive_file;
    const DWORD unloaded = find_appdata(profile, appdata, hive_file);
    profile_line line(profile.sid);
    if (unloaded != 0)
        line.failed(L"hive [" + hive_file + L"] unload", unloaded);
    DWORD error = 0;
    const std::wstring what = L"shortcut [" + ferrolink::quick_launch_shortcut_path(appdata) + L"]";
    if (appdata.kind == appdata_kind::network) {
        line.left(what, L"AppData is on the network, not walked");
    } else if (appdata.kind == appdata_kind::unresolved) {
        line.left(L"shortcut", L"AppData [" + appdata.path + L"] cannot be resolved for this user, not walked");
    } else {
        unique_handle folder;
        error = ferrolink::open_quick_launch_folder(profile, appdata, folder);
        // A missing folder holds no shortcut; a refused profile or a link on the way is not walked.
        if (error == 0)
            error = delete_shortcut_in(folder.get());
        if (error == ERROR_PATH_NOT_FOUND || error == ERROR_BAD_PATHNAME || error == ERROR_FILE_NOT_FOUND)
            error = 0;
        else if (error == 0)
            line.deleted(what);
        else
            line.failed(what, error);
    }
    line.write();
    return error != 0 ? error : unloaded;
}

} // namespace

int delete_profile_shortcuts()
{
    int result = 1;
    for (const user_profile& profile : ferrolink::other_user_profiles()) {
        if (delete_profile_shortcut(profile) != 0)
            result = 0;
    }
    return result;
}

} // namespace cleaner
