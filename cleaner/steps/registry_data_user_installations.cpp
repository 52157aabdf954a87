#include "cleaner/steps/registry_data_user_installations.h"

#include "cleaner/mechanisms/component_sweep.h"
#include "cleaner/mechanisms/profile_line.h"
#include "cleaner/steps/registry_data_installer_context.h"
#include "cleaner/steps/registry_data_installer_leftovers.h"
#include "cleaner/run_log.h"
#include "footprint/footprint.h"
#include "footprint/user_data.h"
#include "footprint/user_profiles.h"

namespace cleaner {

namespace {

using ferrolink::user_installation;

// The user's profile as ProfileList names it; false when it has no entry there. For the running account (not
// listed there) its hive is loaded under its SID all the same.
bool find_profile(const std::wstring& sid, ferrolink::user_profile& found)
{
    found = {sid, std::wstring()};
    for (ferrolink::user_profile& profile : ferrolink::other_user_profiles()) {
        if (::CompareStringOrdinal(profile.sid.c_str(), -1, sid.c_str(), -1, TRUE) == CSTR_EQUAL) {
            found = std::move(profile);
            return true;
        }
    }
    return false;
}

// Without a hive (`hive_name` empty) only the machine's records of the installation are there to delete.
installer_context user_context(const user_installation& installation, const std::wstring& hive_name)
{
    const std::wstring managed = ferrolink::managed_installer_path(installation.sid);
    installer_context context{installation.sid, {{HKEY_LOCAL_MACHINE, managed, L"HKLM\\" + managed}}};
    if (hive_name.empty())
        return context;
    const std::wstring own = hive_name + L"\\" + ferrolink::user_installer_key;
    context.roots.insert(context.roots.begin(), {HKEY_USERS, own, L"HKU\\" + own});
    return context;
}

// The registration first (the user's own, then the managed one), the user data that names the package last.
bool delete_registration(const installer_context& context, const user_installation& installation,
                         const std::wstring& hive_name)
{
    const ferrolink::product_codes& codes = installation.codes;
    bool gone = true;
    for (const installer_root& root : context.roots) {
        for (const std::wstring& key :
             {ferrolink::context_products + codes.packed, ferrolink::context_features + codes.packed,
              ferrolink::context_upgrade_codes + std::wstring(ferrolink::packed_upgrade_code)})
            gone = delete_present_key(root.root, root.path + key, root.shown + key) && gone;
    }
    if (!hive_name.empty()) {
        const std::wstring uninstall = hive_name + L"\\" + ferrolink::user_uninstall_key + codes.braced;
        gone = delete_present_key(HKEY_USERS, uninstall, L"HKU\\" + uninstall) && gone;
    }
    const std::wstring user_data = ferrolink::user_data_path(installation.sid);
    const std::wstring product = user_data + ferrolink::user_data_products + codes.packed;
    gone = delete_present_key(HKEY_LOCAL_MACHINE, product, L"HKLM\\" + product) && gone;
    bool released_all = false;
    if (!sweep_components_under(HKEY_LOCAL_MACHINE, user_data + ferrolink::user_data_components, codes.packed,
                                &released_all) ||
        !released_all) {
        log_key_left(L"HKLM\\" + user_data + ferrolink::user_data_components + codes.packed);
        gone = false;
    }
    return gone;
}

bool delete_user_installation(const user_installation& installation)
{
    const std::string sid = wide_to_utf8(installation.sid);
    log_line("\tUser installation [%s] GUID:%s,S_GUID:%s", sid.c_str(), wide_to_utf8(installation.codes.bare).c_str(),
             wide_to_utf8(installation.codes.packed).c_str());
    ferrolink::user_profile profile;
    const bool listed = find_profile(installation.sid, profile);
    ferrolink::user_hive hive(profile, kTemporaryHivePrefix + installation.sid, true);
    // An account whose profile is gone from this machine keeps no per-user half that a later msiexec could need.
    const bool profile_gone = !listed && hive.state() == ferrolink::hive_state::no_file;
    if (profile_gone) {
        log_line("\tUser installation [%s]: no profile on this machine, only the machine's records of it are left",
                 sid.c_str());
    } else if (hive.state() != ferrolink::hive_state::reachable) {
        log_line("\tUser installation [%s]: hive [%s] failed, lastError:%lu, installation left whole", sid.c_str(),
                 wide_to_utf8(hive.file()).c_str(), hive.error());
        return false;
    }
    const std::wstring hive_name = profile_gone ? std::wstring() : hive.name();
    const installer_context context = user_context(installation, hive_name);
    const product_leftovers leftovers = read_product_leftovers(context, installation.codes);
    bool gone = delete_registration(context, installation, hive_name);
    if (gone)
        gone = delete_product_leftovers(context, leftovers);
    else
        keep_product_leftovers(leftovers);
    const DWORD unloaded = hive.unload();
    if (unloaded != 0) {
        // A hive left loaded gives the user a temporary profile at the next logon.
        log_line("\tUser installation [%s]: hive [%s] unload failed, lastError:%lu", sid.c_str(),
                 wide_to_utf8(hive.file()).c_str(), unloaded);
        gone = false;
    }
    return gone;
}

} // namespace

bool delete_user_installations(const std::vector<user_installation>& installations)
{
    bool all = true;
    for (const user_installation& installation : installations)
        all = delete_user_installation(installation) && all;
    return all;
}

} // namespace cleaner
