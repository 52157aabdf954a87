#include "cleaner/registry_cleanup.h"

#include "cleaner/component_sweep.h"
#include "cleaner/footprint.h"
#include "cleaner/packed_guid.h"
#include "cleaner/registry_tree.h"
#include "cleaner/run_log.h"

#include <windows.h>
#include <msi.h>

#include <string>

namespace cleaner {

namespace {

const wchar_t* const kUpgradeCode = footprint::upgrade_code;
const wchar_t* const kPackedUpgradeCode = footprint::packed_upgrade_code;
const size_t kProductCodeLength = 38;

using footprint::client_key;
using footprint::installer_key;
using footprint::key_code;

const auto& kClientKeys = footprint::client_keys;
const auto& kInstallerKeys = footprint::installer_keys;
const wchar_t* const kComponentsPrefix = footprint::components_key;

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
