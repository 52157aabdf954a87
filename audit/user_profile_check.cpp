#include "audit/check_support.h"
#include "audit/checks.h"
#include "footprint/footprint.h"
#include "footprint/folder_entry.h"
#include "footprint/quick_launch.h"
#include "footprint/registry_probe.h"
#include "footprint/user_profiles.h"
#include "mcl/mswin/unique_resource.h"

namespace audit {

namespace {

namespace fp = ferrolink;
using ferrolink::appdata_kind;
using ferrolink::hive_state;
using ferrolink::user_profile;

const char kPart[] = "user profiles";
const wchar_t kTemporaryHivePrefix[] = L"FerrolinkAudit_";
const char kRefused[] = "the profile folder is a link or outside the profiles root, which the cleaner skips";

std::string id_of(const user_profile& profile, const char* what)
{
    return "profile:" + wide_to_utf8(profile.sid) + ":" + what;
}

audit_item unchecked_for(const std::string& label, DWORD error)
{
    audit_item item = unchecked_item(kPart, label, error);
    if (error == ERROR_PRIVILEGE_NOT_HELD)
        item.needs_admin = !running_elevated();
    return item;
}

// What the cleaner leaves alone on purpose: shown with the reason, never counted.
audit_item not_walked(audit_item item, const std::string& reason)
{
    item.detail = reason;
    item.counted = false;
    return item;
}

audit_item skipped_item(const user_profile& profile)
{
    return not_walked(unchecked_item(kPart, wide_to_utf8(profile.sid), 0),
                      std::string("skipped: ") + fp::profile_skip_reason(profile.skip));
}

// The client's key in a reachable hive, reached one key at a time, never through a link: a link on the way may
// lead to the key, so it counts as present.
audit_item key_in(const fp::user_hive& hive, const std::string& label)
{
    mcl::mswin::unique_hkey parent;
    const LONG opened = fp::open_user_key_parent(hive, KEY_READ, parent);
    if (opened == ERROR_FILE_NOT_FOUND)
        return absent_item(kPart, label);
    if (opened == fp::kLinkOnTheWay)
        return present_item(kPart, label, "a link on the way to it, not followed");
    if (opened != ERROR_SUCCESS)
        return unchecked_for(label, static_cast<DWORD>(opened));
    // Refused on the key itself: it is there.
    const LONG status = fp::probe_key(parent.get(), fp::user_key_name);
    if (status == ERROR_SUCCESS || status == ERROR_ACCESS_DENIED)
        return present_item(kPart, label);
    return status == ERROR_FILE_NOT_FOUND ? absent_item(kPart, label)
                                          : unchecked_for(label, static_cast<DWORD>(status));
}

// The user's hive is looked at as the cleaner looks at it: the one loaded while the user is logged on, else the
// hive file loaded for a moment, and only a plain NTUSER.DAT that exists (loading a missing one would create it).
audit_item key_item(const user_profile& profile)
{
    const std::string label = wide_to_utf8(profile.sid) + " HKU\\" + wide_to_utf8(profile.sid) + "\\" +
                              wide_to_utf8(fp::user_key);
    const fp::user_hive hive(profile, kTemporaryHivePrefix + profile.sid, false);
    switch (hive.state()) {
    case hive_state::reachable:
        return key_in(hive, label);
    case hive_state::refused:
        return not_walked(unchecked_for(label, hive.error()), kRefused);
    case hive_state::no_file:
        return not_walked(unchecked_for(label, hive.error()), "no hive file (NTUSER.DAT), never loaded");
    case hive_state::mandatory:
        return not_walked(unchecked_for(label, hive.error()), "a mandatory profile (NTUSER.MAN), never loaded");
    case hive_state::not_plain: {
        audit_item item = unchecked_for(label, ERROR_BAD_PATHNAME);
        item.detail = "the hive file is not a plain file (a link, or a file with other names), never loaded";
        return item;
    }
    case hive_state::failed:
        break;
    }
    return unchecked_for(label, hive.error());
}

// The shortcut in the Quick Launch folder below a local AppData folder.
audit_item shortcut_below(const user_profile& profile, const fp::appdata_location& appdata, const std::string& label)
{
    mcl::mswin::unique_handle folder;
    DWORD status = fp::open_quick_launch_folder(profile, appdata, folder);
    if (status == ERROR_BAD_PATHNAME)
        return not_walked(unchecked_for(label, status),
                          "the profile folder or a folder on the way is a link, or the profile folder is outside the "
                          "profiles root, which the cleaner skips");
    if (status == ERROR_PATH_NOT_FOUND)
        return absent_item(kPart, label);
    mcl::mswin::unique_handle file;
    if (status == 0)
        status = fp::open_in_folder(folder.get(), fp::quick_launch_shortcut, fp::entry_kind::file,
                                    FILE_READ_ATTRIBUTES, file);
    if (status == 0)
        return present_item(kPart, label);
    return status == ERROR_FILE_NOT_FOUND ? absent_item(kPart, label) : unchecked_for(label, status);
}

audit_item shortcut_item(const user_profile& profile)
{
    fp::appdata_location appdata;
    hive_state state = hive_state::failed;
    DWORD hive_error = 0;
    {
        const fp::user_hive hive(profile, kTemporaryHivePrefix + profile.sid, false);
        appdata = fp::user_appdata(profile, &hive);
        state = hive.state();
        hive_error = hive.error();
    }
    const std::string label =
        wide_to_utf8(profile.sid) + " " + wide_to_utf8(fp::quick_launch_shortcut_path(appdata));
    if (appdata.kind == appdata_kind::network)
        return not_walked(unchecked_for(label, ERROR_BAD_NETPATH),
                          "AppData is redirected to a network path, which the cleaner does not walk");
    if (appdata.kind == appdata_kind::unresolved)
        return not_walked(unchecked_for(label, ERROR_BAD_PATHNAME),
                          "AppData cannot be resolved for this user, which the cleaner does not walk");
    audit_item item = shortcut_below(profile, appdata, label);
    // Without the user's hive, AppData may be redirected elsewhere: not found in the default folder tells nothing.
    const bool hive_unread = state == hive_state::failed || state == hive_state::not_plain;
    if (item.state == item_state::absent && hive_unread) {
        item = unchecked_for(label, hive_error != 0 ? hive_error : ERROR_BAD_PATHNAME);
        item.detail = "AppData could not be read from the user's hive";
    }
    return item;
}

} // namespace

audit_items check_user_profile_keys()
{
    audit_items items;
    for (const user_profile& profile : fp::other_user_profiles()) {
        const bool skipped = profile.skip != fp::profile_skip::none;
        items.push_back(skipped ? skipped_item(profile) : key_item(profile));
        items.back().id = id_of(profile, skipped ? "skipped" : "key");
    }
    return items;
}

audit_items check_user_profile_shortcuts()
{
    audit_items items;
    for (const user_profile& profile : fp::other_user_profiles()) {
        if (profile.skip != fp::profile_skip::none)
            continue;
        items.push_back(shortcut_item(profile));
        items.back().id = id_of(profile, "shortcut");
    }
    return items;
}

} // namespace audit
