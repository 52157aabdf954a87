#include "cleaner/registry_cleanup.h"

#include "cleaner/component_sweep.h"
#include "cleaner/open_file_delete.h"
#include "cleaner/profile_cleanup.h"
#include "cleaner/registry_tree.h"
#include "cleaner/run_log.h"
#include "footprint/cached_package.h"
#include "footprint/footprint.h"
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

void delete_row(HKEY root, const std::wstring& path, const std::wstring& logged_key, bool keep_profiles)
{
    if (!delete_registry_tree(root, path, keep_profiles))
        log_row_failure(logged_key);
}

// A key beside the rows (another view, a copy, an index) is handled like a row, but only when it is there, so that
// a machine without it logs nothing new.
void delete_if_present(HKEY root, const std::wstring& path, bool keep_profiles)
{
    if (ferrolink::probe_key(root, path) != ERROR_FILE_NOT_FOUND)
        delete_row(root, path, path, keep_profiles);
}

// HKCR shows the user's copy of a key before the machine's, so deleting it there may leave the machine's copy.
void delete_machine_copy(HKEY root, const std::wstring& path)
{
    if (root == HKEY_CLASSES_ROOT)
        delete_if_present(HKEY_LOCAL_MACHINE, ferrolink::machine_classes + path, false);
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

// The product's cached package goes before row 22, which names it, so that no later run loses track of it.
void delete_cached_package(const product_codes& codes)
{
    const std::wstring path = ferrolink::registered_cached_package(codes);
    if (path.empty())
        return;
    const std::string logged = wide_to_utf8(path);
    mcl::mswin::unique_handle file;
    DWORD error = ferrolink::open_cached_package(path, DELETE | FILE_WRITE_ATTRIBUTES, file);
    if (error == ERROR_FILE_NOT_FOUND)
        return;
    if (error == ERROR_BAD_PATHNAME) {
        log_line("\tCached package [%s] left: not a plain file directly inside the Installer folder", logged.c_str());
        return;
    }
    if (error == 0)
        error = delete_open_file(file.get());
    file.reset();
    if (error == 0)
        log_line("\tCached package [%s] deleted.", logged.c_str());
    else
        log_line("\tCached package [%s] delete failed, lastError:%lu", logged.c_str(), error);
}

void delete_installer_key(const installer_key& row, const product_codes& codes)
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
    delete_row(row.root, path, logged, false);
    delete_machine_copy(row.root, path);
}

void delete_installer_registration(const std::wstring& product_code)
{
    product_codes codes;
    if (!ferrolink::derive_product_codes(product_code, codes)) {
        log_line("\tInvalid product code [%s], installer registration not touched.",
                 wide_to_utf8(product_code).c_str());
        return;
    }
    log_line("\tGUID:%s,S_GUID:%s", wide_to_utf8(codes.bare).c_str(), wide_to_utf8(codes.packed).c_str());
    delete_cached_package(codes);
    for (const installer_key& row : kInstallerKeys)
        delete_installer_key(row, codes);
    if (!sweep_components(codes.packed))
        log_row_failure(kComponentsPrefix + codes.packed);
}

} // namespace

int delete_registry_data(bool automatic)
{
    // Asked before any key goes, so that the answer stands.
    const std::vector<std::wstring> product_codes = ferrolink::client_product_codes();
    bool failed = false;
    delete_client_keys(automatic);
    delete_run_values();
    if (!delete_profile_keys())
        failed = true;
    for (const std::wstring& product_code : product_codes)
        delete_installer_registration(product_code);
    // Last: Windows Installer's own index, which leads a later run to any product whose rows are still left.
    delete_if_present(HKEY_LOCAL_MACHINE, std::wstring(ferrolink::installer_upgrade_index) + kPackedUpgradeCode,
                      false);
    log_line(failed ? "\tfailed" : "\tsucceed");
    return failed ? 0 : 1;
}

} // namespace cleaner
