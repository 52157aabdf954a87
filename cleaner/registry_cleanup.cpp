#include "cleaner/registry_cleanup.h"

#include "cleaner/component_sweep.h"
#include "footprint/footprint.h"
#include "footprint/installer_product.h"
#include "cleaner/registry_tree.h"
#include "cleaner/run_log.h"

#include <windows.h>

#include <string>

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

void delete_client_keys(bool automatic)
{
    bool keep_profiles = automatic;
    for (const client_key& row : kClientKeys) {
        delete_row(row.root, row.path, row.path, keep_profiles);
        keep_profiles = false;
    }
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
    if (!ferrolink::derive_product_codes(product_code, codes)) {
        log_line("\tInvalid product code [%s], installer registration not touched.",
                 wide_to_utf8(product_code).c_str());
        return;
    }
    log_line("\tGUID:%s,S_GUID:%s", wide_to_utf8(codes.bare).c_str(), wide_to_utf8(codes.packed).c_str());
    for (const installer_key& row : kInstallerKeys)
        delete_installer_key(row, codes);
    if (!sweep_components(codes.packed))
        log_row_failure(kComponentsPrefix + codes.packed);
}

} // namespace

int delete_registry_data(bool automatic)
{
    std::wstring product_code;
    // Asked before any key goes, so that the answer stands.
    const bool related = ferrolink::first_related_product(product_code);
    delete_client_keys(automatic);
    if (related)
        delete_installer_registration(product_code);
    log_line("\tsucceed");
    return 1;
}

} // namespace cleaner
