#include "cleaner/registry_cleanup.h"

#include "cleaner/component_sweep.h"
#include "cleaner/packed_guid.h"
#include "cleaner/registry_tree.h"
#include "cleaner/run_log.h"

#include <windows.h>
#include <msi.h>

#include <string>

namespace cleaner {

namespace {

const wchar_t kUpgradeCode[] = L"{B3A91C47-2E65-4D8F-9C1A-7F04D2E6A853}";
const wchar_t kPackedUpgradeCode[] = L"74C19A3B56E2F8D4C9A1F7402D6E8A35";
const size_t kProductCodeLength = 38;

struct client_key {
    HKEY root;
    const wchar_t* path;
};

// The client's own keys, in the order of deletion; the first is the product key with the saved profiles.
const client_key kClientKeys[] = {
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

// Which code completes an installer key, and so what its failure line shows after the prefix.
enum class key_code {
    product,         // key: braced product code; logged: the bare code
    packed_product,  // key and log: the packed product code
    packed_upgrade,  // key: the packed upgrade code; logged: the prefix alone
};

struct installer_key {
    HKEY root;
    const wchar_t* prefix;
    key_code code;
};

const installer_key kInstallerKeys[] = {
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
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\",
     key_code::packed_product},
};

const wchar_t kComponentsPrefix[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\";

struct product_codes {
    std::wstring braced;  // P
    std::wstring bare;    // G
    std::wstring packed;  // K
};

void log_row_failure(const std::wstring& logged_key)
{
    log_line("\t[%s] still under protection or not exist, can not delete.", to_utf8(logged_key.c_str()).c_str());
}

void delete_row(HKEY root, const std::wstring& path, const std::wstring& logged_key, bool keep_profiles)
{
    if (!delete_registry_tree(root, path, keep_profiles))
        log_row_failure(logged_key);
}

void delete_client_keys(bool automatic)
{
    bool keep_profiles = automatic;
    for (const client_key& row : kClientKeys) {
        delete_row(row.root, row.path, row.path, keep_profiles);
        keep_profiles = false;
    }
}

// The first product of the client's upgrade family, asked before any key goes so that the answer stands.
bool find_related_product(std::wstring& product_code)
{
    wchar_t buffer[40] = {};
    if (::MsiEnumRelatedProductsW(kUpgradeCode, 0, 0, buffer) != ERROR_SUCCESS)
        return false;
    product_code = buffer;
    return true;
}

// Only a well-formed braced code may complete a key path: anything shorter would name a parent key.
bool derive_codes(const std::wstring& braced, product_codes& codes)
{
    if (braced.size() != kProductCodeLength || braced.front() != L'{' || braced.back() != L'}')
        return false;
    codes.braced = braced;
    codes.bare = braced.substr(1, braced.size() - 2);
    codes.packed = to_packed_guid(codes.bare);
    return !codes.packed.empty();
}

void delete_installer_key(const installer_key& row, const product_codes& codes)
{
    const std::wstring prefix = row.prefix;
    switch (row.code) {
    case key_code::product:
        delete_row(row.root, prefix + codes.braced, prefix + codes.bare, false);
        return;
    case key_code::packed_product:
        delete_row(row.root, prefix + codes.packed, prefix + codes.packed, false);
        return;
    case key_code::packed_upgrade:
        delete_row(row.root, prefix + kPackedUpgradeCode, prefix, false);
        return;
    }
}

void delete_installer_registration(const std::wstring& product_code)
{
    product_codes codes;
    if (!derive_codes(product_code, codes)) {
        log_line("\tInvalid product code [%s], installer registration not touched.",
                 to_utf8(product_code.c_str()).c_str());
        return;
    }
    log_line("\tGUID:%s,S_GUID:%s", to_utf8(codes.bare.c_str()).c_str(), to_utf8(codes.packed.c_str()).c_str());
    for (const installer_key& row : kInstallerKeys)
        delete_installer_key(row, codes);
    if (!sweep_components(codes.packed))
        log_row_failure(kComponentsPrefix + codes.packed);
}

} // namespace

int delete_registry_data(bool automatic)
{
    std::wstring product_code;
    const bool related = find_related_product(product_code);
    delete_client_keys(automatic);
    if (related)
        delete_installer_registration(product_code);
    log_line("\tsucceed");
    return 1;
}

} // namespace cleaner
