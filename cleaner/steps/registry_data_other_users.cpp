#include "cleaner/steps/registry_data_other_users.h"

#include "cleaner/mechanisms/file_disposal.h"
#include "cleaner/mechanisms/registry_tree.h"
#include "cleaner/run_log.h"
#include "footprint/folder_entry.h"
#include "footprint/footprint.h"
#include "footprint/quick_launch.h"
#include "footprint/registry_probe.h"
#include "footprint/user_profiles.h"
#include "mcl/mswin/unique_resource.h"

#include <string>

namespace cleaner {

namespace {

using ferrolink::appdata_kind;
using ferrolink::appdata_location;
using ferrolink::hive_state;
using ferrolink::user_hive;
using ferrolink::user_profile;
using mcl::mswin::unique_handle;
using mcl::mswin::unique_hkey;

const wchar_t kTemporaryHivePrefix[] = L"FerrolinkCleaner_";
const char kRefused[] = "the profile folder is a link or outside the profiles root";

// What was done in one profile, written as one line once the profile is done, and only if anything was found:
// "\tUser profile <SID>: key [...] deleted." or "...: key [...] failed, lastError:<n>", parts joined by ", ".
class profile_line {
public:
    explicit profile_line(const std::wstring& sid) : sid_(sid) {}

    void deleted(const std::wstring& what) { add(what + L" deleted", true); }
    void failed(const std::wstring& what, DWORD error)
    {
        add(what + L" failed, lastError:" + std::to_wstring(error), false);
    }
    // Something of the client that stays, and why.
    void left(const std::wstring& what, const std::wstring& why) { add(what + L" left: " + why, false); }

    void write() const
    {
        if (text_.empty())
            return;
        log_line("\tUser profile %s: %s%s", wide_to_utf8(sid_).c_str(), wide_to_utf8(text_).c_str(),
                 last_deleted_ ? "." : "");
    }

private:
    void add(const std::wstring& part, bool deleted)
    {
        text_ += (text_.empty() ? L"" : L", ") + part;
        last_deleted_ = deleted;
    }

    std::wstring sid_;
    std::wstring text_;
    bool last_deleted_ = false;
};

void log_skipped(const std::wstring& sid, const char* reason)
{
    log_line("\tUser profile %s skipped: %s", wide_to_utf8(sid).c_str(), reason);
}

// How many subkeys the key `name` below `parent` still has directly below it; 0 when it cannot be told.
DWORD subkeys_left(HKEY parent, const wchar_t* name)
{
    unique_hkey key;
    DWORD subkeys = 0;
    if (ferrolink::open_key_as_itself(parent, name, KEY_QUERY_VALUE, key) != ERROR_SUCCESS ||
        ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return 0;
    return subkeys;
}

// The client's key in the hive, reached one checked key at a time; nothing happens when it is not there. False
// when its tree was left unfinished at the bound.
bool delete_user_key(const user_hive& hive, profile_line& line)
{
    const std::wstring what = L"key [" + std::wstring(ferrolink::user_key) + L"]";
    unique_hkey parent;
    const LONG opened = ferrolink::open_user_key_parent(hive, KEY_READ, parent);
    if (opened == ERROR_FILE_NOT_FOUND)
        return true;
    if (opened == ferrolink::kLinkOnTheWay) {
        line.left(what, L"a link on the way, not followed");
        return true;
    }
    if (opened != ERROR_SUCCESS) {
        line.failed(what, static_cast<DWORD>(opened));
        return true;
    }
    if (ferrolink::probe_key(parent.get(), ferrolink::user_key_name) == ERROR_FILE_NOT_FOUND)
        return true;
    const std::wstring logged = hive.name() + L"\\" + ferrolink::user_key;
    deletion_bound bound(kUserKeyMostKeys, kUserKeyMostMs);
    if (delete_registry_subtree(parent.get(), ferrolink::user_key_name, logged, false, &bound)) {
        line.deleted(what);
        return true;
    }
    if (!bound.reached()) {
        line.failed(what, ::GetLastError());
        return true;
    }
    line.left(what, L"unfinished after " + std::to_wstring(bound.keys_taken()) + L" keys (bound: " +
                        std::to_wstring(kUserKeyMostKeys) + L" keys or " + std::to_wstring(kUserKeyMostMs / 1000) +
                        L" s), " + std::to_wstring(subkeys_left(parent.get(), ferrolink::user_key_name)) +
                        L" subkeys left directly below it");
    return false;
}

// False when the hive stayed loaded or the key tree was left unfinished.
bool delete_profile_key(const user_profile& profile)
{
    if (profile.skip != ferrolink::profile_skip::none) {
        log_skipped(profile.sid, ferrolink::profile_skip_reason(profile.skip));
        return true;
    }
    profile_line line(profile.sid);
    bool finished = true;
    {
        user_hive hive(profile, kTemporaryHivePrefix + profile.sid, true);
        const std::wstring what = L"hive [" + hive.file() + L"]";
        switch (hive.state()) {
        case hive_state::refused:
            log_skipped(profile.sid, kRefused);
            return true;
        case hive_state::mandatory:
            line.left(what, L"a mandatory profile, never loaded");
            break;
        case hive_state::not_plain:
            line.left(what, L"not a plain file, never loaded");
            break;
        case hive_state::no_file:
        case hive_state::failed:
            line.failed(what, hive.error());
            break;
        case hive_state::reachable: {
            finished = delete_user_key(hive, line);
            // A hive left loaded gives the user a temporary profile at the next logon.
            const DWORD unloaded = hive.unload();
            if (unloaded != 0) {
                line.failed(what + L" unload", unloaded);
                finished = false;
            }
            break;
        }
        }
    }
    line.write();
    return finished;
}

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

bool delete_profile_keys()
{
    bool finished = true;
    for (const user_profile& profile : ferrolink::other_user_profiles()) {
        if (!delete_profile_key(profile))
            finished = false;
    }
    return finished;
}

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
