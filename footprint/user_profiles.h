// Every other user's share of the client: row 5's key in the user's hive and shortcut row 3 in the profile.
#pragma once

#include "mcl/mswin/unique_resource.h"

#include <windows.h>

#include <string>
#include <vector>

namespace ferrolink {

struct user_profile {
    std::wstring sid;     // "S-1-5-21-..."
    std::wstring folder;  // ProfileImagePath, expanded; empty when it has none
};

// The profiles of ProfileList whose SID is a user's ("S-1-5-21-" and then digits and dashes only), other than
// the account this process runs as, in the order the registry lists them.
std::vector<user_profile> other_user_profiles();

// The profile's hive file: its folder + "\NTUSER.DAT".
std::wstring hive_file(const user_profile& profile);

// A user's hive, reachable below HKEY_USERS while the object lives: the one loaded under the user's SID while the
// user is logged on, else the profile's hive file loaded under `temporary_name`, with the backup and restore
// privileges enabled only for the load and the unload, and unloaded again at the latest on destruction.
class user_hive {
public:
    user_hive(const user_profile& profile, const std::wstring& temporary_name);
    ~user_hive();
    user_hive(const user_hive&) = delete;
    user_hive& operator=(const user_hive&) = delete;

    // 0 when the hive is reachable, else the error of loading it (the file in use, missing or damaged).
    DWORD error() const { return error_; }
    // Its key below HKEY_USERS: the SID, or the temporary name.
    const std::wstring& name() const { return name_; }
    const std::wstring& file() const { return file_; }
    // Unloads a hive that this object loaded: 0 or the error; 0 at once for a logged-on user's hive.
    DWORD unload();

private:
    std::wstring name_;
    std::wstring file_;
    DWORD error_ = 0;
    bool loaded_here_ = false;
};

// Opens "Software\Orvane" inside the (reachable) hive, one key at a time and each as itself: ERROR_FILE_NOT_FOUND
// also when a key on the way is a link, since what a link leads to is not the user's. The client's key is
// `user_key_name` below it.
LONG open_user_key_parent(const user_hive& hive, REGSAM access, mcl::mswin::unique_hkey& parent);

// Opens the profile's Quick Launch folder by walking down from the profiles root: the profile folder must be a
// folder directly inside the profiles root, and neither it nor any folder on the way down may be a link.
// 0; ERROR_PATH_NOT_FOUND when a folder on the way is missing; ERROR_BAD_PATHNAME when the profile folder is
// refused; or the error of an open.
DWORD open_quick_launch_folder(const user_profile& profile, mcl::mswin::unique_handle& folder);

// The shortcut's path in that folder, as the log names it.
std::wstring quick_launch_shortcut_path(const user_profile& profile);

} // namespace ferrolink
