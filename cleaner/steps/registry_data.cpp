#include "cleaner/steps/registry_data.h"

#include "cleaner/mechanisms/component_sweep.h"
#include "cleaner/steps/registry_data_installer_context.h"
#include "cleaner/steps/registry_data_installer_leftovers.h"
#include "cleaner/steps/registry_data_other_users.h"
#include "cleaner/mechanisms/registry_tree.h"
#include "cleaner/run_log.h"
#include "cleaner/steps/registry_data_user_installations.h"
#include "footprint/cached_package.h"
#include "footprint/footprint.h"
#include "footprint/install_dir.h"
#include "footprint/installer_product.h"
#include "footprint/registry_probe.h"

#include <windows.h>

#include <string>
#include <vector>

namespace cleaner {

namespace {

const wchar_t* const kPackedUpgradeCode = ferrolink::packed_upgrade_code;

using ferrolink::client_key;
using ferrolink::installer_key;
using ferrolink::key_code;

const auto& kClientKeys = ferrolink::client_keys;
const auto& kInstallerKeys = ferrolink::installer_keys;
const wchar_t* const kComponentsPrefix = ferrolink::components_key;

using ferrolink::product_codes;

void log_row_failure(const std::wstring& logged_key)
{
    log_line("\t[%s] still under protection or not exist, can not delete.", wide_to_utf8(logged_key).c_str());
}

// True when the key is gone.
bool delete_row(HKEY root, const std::wstring& path, const std::wstring& logged_key, bool keep_profiles)
{
    if (delete_registry_tree(root, path, keep_profiles))
        return true;
    log_row_failure(logged_key);
    return false;
}

// A key beside the rows (another view, a copy, an index) is handled like a row, but only when it is there, so that
// a machine without it logs nothing new.
bool delete_if_present(HKEY root, const std::wstring& path, bool keep_profiles)
{
    return ferrolink::probe_key(root, path) == ERROR_FILE_NOT_FOUND || delete_row(root, path, path, keep_profiles);
}

// HKCR shows the user's copy of a key before the machine's, so deleting it there may leave the machine's copy.
bool delete_machine_copy(HKEY root, const std::wstring& path)
{
    return root != HKEY_CLASSES_ROOT || delete_if_present(HKEY_LOCAL_MACHINE, ferrolink::machine_classes + path, false);
}

void delete_client_keys(bool automatic)
{
    bool keep_profiles = automatic;
    for (const client_key& row : kClientKeys) {
        delete_row(row.root, row.path, row.path, keep_profiles);
        delete_machine_copy(row.root, row.path);
        // A 32-bit client keeps its key in the 32-bit view, profiles and all.
        if (&row == &kClientKeys[0])
            delete_if_present(HKEY_LOCAL_MACHINE, ferrolink::product_key_32, automatic);
        keep_profiles = false;
    }
}

// Windows starts what the values of the Run keys name; only values of the client's names, exactly, go.
void delete_run_values()
{
    for (const wchar_t* run_key : ferrolink::run_keys) {
        for (const wchar_t* name : ferrolink::run_value_names) {
            if (ferrolink::probe_run_value(run_key, name) != ERROR_SUCCESS)
                continue;
            const std::string logged = wide_to_utf8(std::wstring(run_key) + L"\\" + name);
            mcl::mswin::unique_hkey key;
            LONG status = ferrolink::open_run_key(run_key, KEY_SET_VALUE, key);
            if (status == ERROR_SUCCESS)
                status = ::RegDeleteValueW(key.get(), name);
            if (status == ERROR_SUCCESS)
                log_line("\tRun value [%s] deleted.", logged.c_str());
            else
                log_line("\tRun value [%s] delete failed, lastError:%lu", logged.c_str(), static_cast<DWORD>(status));
        }
    }
}

bool delete_installer_key(const installer_key& row, const product_codes& codes)
{
    const std::wstring prefix = row.prefix;
    std::wstring path;
    std::wstring logged;
    switch (row.code) {
    case key_code::product:
        path = prefix + codes.braced;
        logged = prefix + codes.bare;
        break;
    case key_code::packed_product:
        path = prefix + codes.packed;
        logged = path;
        break;
    case key_code::packed_upgrade:
        path = prefix + kPackedUpgradeCode;
        logged = prefix;
        break;
    }
    const bool gone = delete_row(row.root, path, logged, false);
    return delete_machine_copy(row.root, path) && gone;
}

// Rows 13 to 23 of the product; false when any of its keys or component values stays.
bool delete_installer_rows(const product_codes& codes)
{
    bool gone = true;
    for (const installer_key& row : kInstallerKeys)
        gone = delete_installer_key(row, codes) && gone;
    bool released_all = false;
    if (!sweep_components(codes.packed, &released_all)) {
        log_row_failure(kComponentsPrefix + codes.packed);
        return false;
    }
    return released_all && gone;
}

// The registration first; what it names (patches, cached package, the product's own folder) only once it is
// gone. False when the product stays registered. `folders` gets the product's own folder.
bool delete_installer_registration(const std::wstring& product_code, std::vector<std::wstring>& folders)
{
    product_codes codes;
    if (!ferrolink::derive_product_codes(product_code, codes)) {
        log_line("\tInvalid product code [%s], installer registration not touched.",
                 wide_to_utf8(product_code).c_str());
        return true;
    }
    log_line("\tGUID:%s,S_GUID:%s", wide_to_utf8(codes.bare).c_str(), wide_to_utf8(codes.packed).c_str());
    const installer_context context = machine_context();
    const product_leftovers leftovers = read_product_leftovers(context, codes);
    if (!delete_installer_rows(codes)) {
        keep_product_leftovers(leftovers);
        return false;
    }
    folders.push_back(ferrolink::product_installer_folder(codes));
    return delete_product_leftovers(context, leftovers);
}

// The folder that step 5 removed (the registered one it accepts, else the default one), named before row 1 goes.
std::wstring client_install_folder()
{
    const ferrolink::registered_install_dir registered = ferrolink::read_install_dir();
    if (registered.usable())
        return registered.folder;
    std::wstring folder;
    return ferrolink::default_install_dir(folder) == 0 ? folder : std::wstring();
}

} // namespace

int delete_registry_data(bool automatic)
{
    // Asked before any key goes, so that the answers stand.
    const std::vector<std::wstring> product_codes = ferrolink::client_product_codes();
    const std::vector<ferrolink::user_installation> user_installations =
        ferrolink::client_user_installations(product_codes);
    std::vector<std::wstring> folders = {client_install_folder()};
    // A product that stays registered, a user's hive that stays loaded or a user's key tree left unfinished at its
    // bound fails the step.
    bool failed = false;
    delete_client_keys(automatic);
    delete_run_values();
    if (!delete_profile_keys())
        failed = true;
    for (const std::wstring& product_code : product_codes) {
        if (!delete_installer_registration(product_code, folders))
            failed = true;
    }
    if (!delete_user_installations(user_installations))
        failed = true;
    // Last, and only when every product is gone: the installer's record of the client's folders, and its index of
    // the upgrade family, which leads a later run to any product still left.
    if (!failed) {
        delete_folder_entries(folders);
        delete_if_present(HKEY_LOCAL_MACHINE,
                          std::wstring(ferrolink::installer_upgrade_index) + kPackedUpgradeCode, false);
    }
    log_line(failed ? "\tfailed" : "\tsucceed");
    return failed ? 0 : 1;
}

} // namespace cleaner
