// What the Ferrolink client leaves on a machine: the names, ids, keys and paths that the removal steps delete
// and that the audit looks for. Both read them from here, so they cannot drift apart.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstring>

namespace ferrolink {

// Step 1: the client's executable images, in the order they are stopped.
inline const wchar_t* const process_images[] = {L"FLGui.exe", L"Ferrolink.exe", L"FLIdle.exe"};

// Step 2: the maker's protection service, under the two names it has had, narrow as the client helper takes
// them. Not the client's own: the cleaner only asks it to let go, and never removes it.
inline const char* const protection_service_names[] = {"OrvaneClientProtectionService",
                                                         "orvane_client_protection_svc"};

// Step 3: the client's own services, in the order they are removed.
inline const wchar_t* const service_names[] = {L"ORVANE_Ferrolink", L"Orvane_Ferrolink_Service"};

// Step 4: the first hardware id of the client's virtual adapter (compared ignoring case), and the markers in
// the source INF name of its driver packages.
inline const char* const adapter_ids[] = {"orvanefldrv", "sslvpnferrolinkssldrv", "QuellmarkSSLDrv"};
inline const char* const driver_markers[] = {"fldrv", "FlDrv"};

// Whether a package's source INF name marks it as the client's driver (both markers case-sensitive).
inline bool has_driver_marker(const char* source_inf_name)
{
    return (std::strlen(source_inf_name) >= 5 && std::strstr(source_inf_name, driver_markers[0]) != nullptr) ||
           std::strstr(source_inf_name, driver_markers[1]) != nullptr;
}

// Step 5: where the install folder is registered (64-bit view), and where it is when nothing is.
inline const wchar_t install_key[] = L"Software\\Orvane\\SSL-VPN Ferrolink\\Standalone";
inline const wchar_t install_dir_value[] = L"InstallDir";
inline const int default_install_csidl = CSIDL_PROGRAM_FILESX86;
inline const wchar_t default_install_suffix[] = L"\\Orvane\\SSL-VPN\\Ferrolink";

// Step 6, rows 1 to 12: the client's own keys, in the order of deletion; the first is the product key with
// the saved profiles.
struct client_key {
    HKEY root;
    const wchar_t* path;
};

inline const client_key client_keys[] = {
    {HKEY_LOCAL_MACHINE, L"Software\\Orvane\\SSL-VPN Ferrolink"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\OrvaneFerrolink"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\OrvaneFLIdle"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvane Ferrolink"},
    {HKEY_CURRENT_USER, L"Software\\Orvane\\SSL-VPN Ferrolink"},
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Ferrolink"},
    {HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Ferrolink"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run\\OrvaneFerrolink"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run\\OrvaneFLIdle"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvane Ferrolink"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Providers\\"
                         L"{6A2D8E51-C0B7-4F39-8E24-91D7B3F0C6AE}"},
    {HKEY_CLASSES_ROOT, L"CLSID\\{6A2D8E51-C0B7-4F39-8E24-91D7B3F0C6AE}"},
};

// Step 6, beside row 1: the product key in the 32-bit view, where a 32-bit client keeps its settings (and its
// InstallDir when the 64-bit view has none).
inline const wchar_t product_key_32[] = L"Software\\Wow6432Node\\Orvane\\SSL-VPN Ferrolink";
inline const wchar_t install_key_32[] = L"Software\\Wow6432Node\\Orvane\\SSL-VPN Ferrolink\\Standalone";

// Step 6, beside rows 2, 3, 8 and 9: Windows starts what the values of the Run keys name, so the client's
// autostart entries are values of these names (compared exactly) in both views.
inline const wchar_t* const run_keys[] = {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                                          L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run"};
inline const wchar_t* const run_value_names[] = {L"OrvaneFerrolink", L"OrvaneFLIdle"};

// HKCR shows the user's copy of a key before the machine's; the machine's copy of an HKCR row lives here.
inline const wchar_t machine_classes[] = L"SOFTWARE\\Classes\\";

// Step 6, rows 13 to 22: the Windows Installer registration of the client's upgrade family.
inline const wchar_t upgrade_code[] = L"{B3A91C47-2E65-4D8F-9C1A-7F04D2E6A853}";
inline const wchar_t packed_upgrade_code[] = L"74C19A3B56E2F8D4C9A1F7402D6E8A35";

// Which code completes an installer key, and so what its failure line shows after the prefix.
enum class key_code {
    product,         // key: braced product code; logged: the bare code
    packed_product,  // key and log: the packed product code
    packed_upgrade,  // key: the packed upgrade code; logged: the prefix alone
};

// Row 22: the product's per-machine registration.
inline const wchar_t user_data_products_key[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\";

struct installer_key {
    HKEY root;
    const wchar_t* prefix;
    key_code code;
};

inline const installer_key installer_keys[] = {
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\", key_code::product},
    {HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\",
     key_code::product},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\Features\\", key_code::packed_product},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\Products\\", key_code::packed_product},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\UpgradeCodes\\", key_code::packed_upgrade},
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\UpgradeCodes\\",
     key_code::packed_upgrade},
    {HKEY_CLASSES_ROOT, L"Installer\\Products\\", key_code::packed_product},
    {HKEY_CLASSES_ROOT, L"Installer\\Features\\", key_code::packed_product},
    {HKEY_CLASSES_ROOT, L"Installer\\UpgradeCodes\\", key_code::packed_upgrade},
    {HKEY_LOCAL_MACHINE, user_data_products_key, key_code::packed_product},
};

// Step 6, row 23: the per-machine component keys, each holding one value per product that uses it.
inline const wchar_t components_key[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\";

// Step 6, after every product's rows: Windows Installer's own index of the upgrade family (value names: packed
// product codes), which the related-products query reads; and where the classes' copy lists them too.
inline const wchar_t installer_upgrade_index[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\";
inline const wchar_t classes_upgrade_codes[] = L"SOFTWARE\\Classes\\Installer\\UpgradeCodes\\";

// Step 6, with row 22: the product's cached package, named by this value of its per-machine registration, and
// the only folder it may be deleted from (below the system's Windows folder).
inline const wchar_t install_properties_key[] = L"\\InstallProperties";
inline const wchar_t local_package_value[] = L"LocalPackage";
inline const wchar_t installer_cache_folder[] = L"\\Installer";

// Step 6, beside rows 13 to 23: what else Windows Installer keeps of a product. Every user data (the machine's
// "S-1-5-18", or a user's SID) holds Products, Components and Patches keys; a patch is registered in the classes
// too, and its cached package is named by its own key's LocalPackage value. The product's own folder in the
// Installer folder holds its icons and transforms, and Installer\Folders lists the folders it created.
inline const wchar_t installer_user_data_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\";
inline const wchar_t machine_user_data_sid[] = L"S-1-5-18";
inline const wchar_t user_data_products[] = L"\\Products\\";
inline const wchar_t user_data_components[] = L"\\Components\\";
inline const wchar_t user_data_patches[] = L"\\Patches\\";
inline const wchar_t product_patches_subkey[] = L"\\Patches";
inline const wchar_t classes_patches_key[] = L"SOFTWARE\\Classes\\Installer\\Patches\\";
inline const wchar_t merged_patches_key[] = L"Installer\\Patches\\";
inline const wchar_t installer_folders_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";

// The legacy reference counts of shared files (value: the file's path, data: the count), in both views.
inline const wchar_t* const shared_dlls_keys[] = {
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
};

// Per-user installations: a managed one (assigned by policy) registers below the machine's Managed key for the
// user's SID, an unmanaged one in the user's own hive; both keep their user data under the user's SID.
inline const wchar_t installer_managed_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Managed\\";
inline const wchar_t managed_installer_subkey[] = L"\\Installer\\";
inline const wchar_t user_installer_key[] = L"Software\\Microsoft\\Installer\\";
inline const wchar_t user_uninstall_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// Below a context's installer key: the product, its features, the upgrade code's index, a patch.
inline const wchar_t context_products[] = L"Products\\";
inline const wchar_t context_features[] = L"Features\\";
inline const wchar_t context_upgrade_codes[] = L"UpgradeCodes\\";
inline const wchar_t context_patches[] = L"Patches\\";
inline const wchar_t display_name_value[] = L"DisplayName";

// Step 8: product registrations carrying the client's name, whatever their product code.
inline const wchar_t installer_products_key[] = L"Installer\\Products";
inline const wchar_t product_name_value[] = L"ProductName";
inline const wchar_t product_name[] = L"Orvane Ferrolink";

// Step 7: the program group and the shortcut files, in the order they are deleted.
struct shell_item {
    int csidl;
    const wchar_t* suffix;
};

inline const shell_item program_group = {CSIDL_COMMON_PROGRAMS, L"\\Orvane Ferrolink"};
inline const shell_item shortcut_files[] = {
    {CSIDL_COMMON_STARTMENU, L"\\Orvane Ferrolink.lnk"},
    {CSIDL_APPDATA, L"\\Microsoft\\Internet Explorer\\Quick Launch\\Orvane Ferrolink.lnk"},
    {CSIDL_COMMON_DESKTOPDIRECTORY, L"\\Orvane Ferrolink.lnk"},
};

// Steps 6 and 7 for every other user: row 5's key in each user's hive, and shortcut row 3 in each profile.
inline const wchar_t profile_list_key[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
inline const wchar_t profile_state_value[] = L"State";
inline const wchar_t user_hive_file[] = L"NTUSER.DAT";
// A mandatory profile's hive: read-only for the user, and never loaded by the cleaner or the audit.
inline const wchar_t mandatory_hive_file[] = L"NTUSER.MAN";
inline const wchar_t user_key[] = L"Software\\Orvane\\SSL-VPN Ferrolink";
inline const wchar_t* const user_key_parents[] = {L"Software", L"Orvane"};
inline const wchar_t user_key_name[] = L"SSL-VPN Ferrolink";
// The user's AppData folder, as their own hive names it (REG_EXPAND_SZ), and where it is when it does not.
inline const wchar_t user_shell_folders_key[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
inline const wchar_t user_appdata_value[] = L"AppData";
inline const wchar_t* const default_appdata_folders[] = {L"AppData", L"Roaming"};
inline const wchar_t* const quick_launch_folders[] = {L"Microsoft", L"Internet Explorer", L"Quick Launch"};
inline const wchar_t quick_launch_shortcut[] = L"Orvane Ferrolink.lnk";

} // namespace ferrolink
