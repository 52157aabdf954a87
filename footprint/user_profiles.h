// Every other user's profile: the profile list, the profile folder, and row 5's key in the user's hive.
#pragma once

#include "footprint/profile_entry.h"
#include "mcl/mswin/unique_resource.h"

#include <windows.h>

#include <string>
#include <vector>

namespace ferrolink {

struct user_profile {
    std::wstring sid;     // the entry's name: "S-1-5-21-...", "S-1-12-1-..."
    std::wstring folder;  // ProfileImagePath, expanded; empty when it has none
    profile_skip skip = profile_skip::none;
};

// Every entry of ProfileList other than the account this process runs as, in the order the registry lists
// them; `skip` tells which are left alone, and why.
std::vector<user_profile> other_user_profiles();

// The profile folder, opened as itself directly inside the profiles root. 0; ERROR_PATH_NOT_FOUND when it is
// missing; ERROR_BAD_PATHNAME when it is anywhere else or a link; or the error of an open.
DWORD open_profile_folder(const user_profile& profile, mcl::mswin::unique_handle& folder);

enum class hive_state {
    reachable,  // loaded: by Windows while the user is logged on, or here
    refused,    // the profile folder is a link or outside the profiles root: never loaded
    no_file,    // no NTUSER.DAT (nor NTUSER.MAN), or no profile folder: nothing to load
    mandatory,  // only NTUSER.MAN: never loaded
    not_plain,  // NTUSER.DAT is a link, not a file, a file with other names, or was swapped while it loaded
    failed,     // it could not be loaded: error()
};

// A user's hive, reachable below HKEY_USERS while the object lives: the one loaded under the user's SID while the
// user is logged on, else the profile's hive file loaded under `temporary_name`, with the backup and restore
// privileges enabled only for the load and the unload, and unloaded again at the latest on destruction. Only a
// plain NTUSER.DAT that already exists in a profile folder the guard accepts is ever loaded: loading a missing
// file would create it.
class user_hive {
public:
    // `flush`: the holder changes the hive, so it is written to its file before it is unloaded.
    user_hive(const user_profile& profile, const std::wstring& temporary_name, bool flush);
    ~user_hive();
    user_hive(const user_hive&) = delete;
    user_hive& operator=(const user_hive&) = delete;

    hive_state state() const { return state_; }
    // The error of the load (failed) or of the check that kept it from loading; 0 when reachable.
    DWORD error() const { return error_; }
    // Its key below HKEY_USERS: the SID, or the temporary name.
    const std::wstring& name() const { return name_; }
    // The hive file: NTUSER.DAT, or NTUSER.MAN for a mandatory profile.
    const std::wstring& file() const { return file_; }
    // Unloads a hive that this object loaded, flushed first when asked. While something still holds one of its
    // keys open, the unload is tried again for a short while. 0 or the error of the last attempt (the hive is
    // then still loaded, and the destructor tries again); 0 at once for a logged-on user's hive.
    DWORD unload();

private:
    void load(const user_profile& profile);
    // Opens the profile's NTUSER.DAT as itself in the guarded profile folder; false (with the state) when there is
    // none that may be loaded.
    bool find_hive_file(const user_profile& profile, mcl::mswin::unique_handle& hive);
    void load_file(HANDLE checked);

    std::wstring name_;
    std::wstring file_;
    hive_state state_ = hive_state::failed;
    DWORD error_ = 0;
    bool flush_ = false;
    bool loaded_here_ = false;
};

// The hives mounted below HKEY_USERS under a name that begins with `prefix` (any letter case).
std::vector<std::wstring> loaded_hives_named(const std::wstring& prefix);

// Unloads the hive mounted below HKEY_USERS as `name`. 0, or the Windows error.
DWORD unload_hive(const std::wstring& name);

// What open_user_key_parent() answers when a key on the way is a registry link: what it leads to is not the
// user's, so it is not followed, and the client's key may well be behind it.
const LONG kLinkOnTheWay = ERROR_REPARSE_ATTRIBUTE_CONFLICT;

// Opens "Software\Orvane" inside the (reachable) hive, one key at a time and each as itself: ERROR_FILE_NOT_FOUND
// when a key on the way is missing, kLinkOnTheWay when one is a link. The client's key is `user_key_name` below it.
LONG open_user_key_parent(const user_hive& hive, REGSAM access, mcl::mswin::unique_hkey& parent);

} // namespace ferrolink
