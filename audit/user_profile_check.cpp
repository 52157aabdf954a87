#include "audit/check_support.h"
#include "audit/checks.h"
#include "footprint/footprint.h"
#include "footprint/registry_probe.h"
#include "footprint/folder_entry.h"
#include "footprint/user_profiles.h"
#include "mcl/mswin/unique_resource.h"

namespace audit {

namespace {

namespace fp = ferrolink;
using ferrolink::user_profile;

const char kPart[] = "user profiles";
const wchar_t kTemporaryHivePrefix[] = L"FerrolinkAudit_";

audit_item unchecked_for(const std::string& label, DWORD error)
{
    audit_item item = unchecked_item(kPart, label, error);
    if (error == ERROR_PRIVILEGE_NOT_HELD)
        item.needs_admin = !running_elevated();
    return item;
}

// The user's hive is looked at as the cleaner looks at it: the one loaded while the user is logged on, else the
// hive file loaded for a moment; the key is reached one key at a time, never through a link.
audit_item profile_key_item(const user_profile& profile)
{
    const std::string label = wide_to_utf8(profile.sid) + " HKU\\" + wide_to_utf8(profile.sid) + "\\" +
                              wide_to_utf8(fp::user_key);
    fp::user_hive hive(profile, kTemporaryHivePrefix + profile.sid);
    if (hive.error() == ERROR_FILE_NOT_FOUND || hive.error() == ERROR_PATH_NOT_FOUND)
        return absent_item(kPart, label, "no hive file");
    if (hive.error() != 0)
        return unchecked_for(label, hive.error());
    mcl::mswin::unique_hkey parent;
    const LONG opened = fp::open_user_key_parent(hive, KEY_READ, parent);
    if (opened == ERROR_FILE_NOT_FOUND)
        return absent_item(kPart, label);
    if (opened != ERROR_SUCCESS)
        return unchecked_for(label, static_cast<DWORD>(opened));
    // Refused on the key itself: it is there.
    const LONG status = fp::probe_key(parent.get(), fp::user_key_name);
    if (status == ERROR_SUCCESS || status == ERROR_ACCESS_DENIED)
        return present_item(kPart, label);
    return status == ERROR_FILE_NOT_FOUND ? absent_item(kPart, label)
                                          : unchecked_for(label, static_cast<DWORD>(status));
}

audit_item profile_shortcut_item(const user_profile& profile)
{
    const std::string label = wide_to_utf8(profile.sid) + " " + wide_to_utf8(fp::quick_launch_shortcut_path(profile));
    mcl::mswin::unique_handle folder;
    DWORD status = fp::open_quick_launch_folder(profile, folder);
    if (status == ERROR_BAD_PATHNAME) {
        audit_item refused = unchecked_for(label, status);
        refused.detail = "the profile folder is a link or outside the profiles root, which the cleaner skips";
        refused.counted = false;
        return refused;
    }
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

} // namespace

audit_items check_user_profile_keys()
{
    audit_items items;
    for (const user_profile& profile : fp::other_user_profiles()) {
        items.push_back(profile_key_item(profile));
        items.back().id = "profile:" + wide_to_utf8(profile.sid) + ":key";
    }
    return items;
}

audit_items check_user_profile_shortcuts()
{
    audit_items items;
    for (const user_profile& profile : fp::other_user_profiles()) {
        items.push_back(profile_shortcut_item(profile));
        items.back().id = "profile:" + wide_to_utf8(profile.sid) + ":shortcut";
    }
    return items;
}

} // namespace audit
