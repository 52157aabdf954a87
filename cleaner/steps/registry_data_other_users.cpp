#include "cleaner/steps/registry_data_other_users.h"

#include "cleaner/mechanisms/profile_line.h"
#include "cleaner/mechanisms/registry_tree.h"
#include "cleaner/run_log.h"
#include "footprint/footprint.h"
#include "footprint/registry_probe.h"
#include "footprint/user_profiles.h"
#include "mcl/mswin/unique_resource.h"

#include <string>

namespace cleaner {

namespace {

using ferrolink::hive_state;
using ferrolink::user_hive;
using ferrolink::user_profile;
using mcl::mswin::unique_hkey;

const char kRefused[] = "the profile folder is a link or outside the profiles root";

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

// A run ended before it could unload a user's hive (stopped at a deployment agent's time limit, say) left it
// loaded under this program's own name: that user gets a temporary profile at every logon until it goes.
bool unload_hives_left_loaded()
{
    bool all = true;
    for (const std::wstring& name : ferrolink::loaded_hives_named(kTemporaryHivePrefix)) {
        const DWORD error = ferrolink::unload_hive(name);
        if (error == 0) {
            log_line("\tHive [HKU\\%s] left loaded by an earlier run unloaded", wide_to_utf8(name).c_str());
            continue;
        }
        log_line("\tHive [HKU\\%s] left loaded by an earlier run could not be unloaded, lastError:%lu",
                 wide_to_utf8(name).c_str(), error);
        all = false;
    }
    return all;
}

} // namespace

bool delete_profile_keys()
{
    bool finished = unload_hives_left_loaded();
    for (const user_profile& profile : ferrolink::other_user_profiles()) {
        if (!delete_profile_key(profile))
            finished = false;
    }
    return finished;
}

} // namespace cleaner
