#include "audit/check_support.h"
#include "audit/checks.h"
#include "footprint/footprint.h"
#include "footprint/installer_product.h"
#include "mcl/mswin/unique_resource.h"

#include <iterator>

namespace audit {

namespace {

namespace fp = ferrolink;
using mcl::mswin::unique_hkey;

const char kPart[] = "installer";
const int kFirstInstallerRow = 13;

// Windows Installer's own index of upgrade codes: written with a registration, left by the cleaner, and what
// the related-products query reads on some implementations.
const wchar_t kUpgradeIndex[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\";

using ferrolink::product_codes;

// The first product of the client's upgrade family, as the registry cleanup asks for it; false when none is
// registered or its code is not a braced GUID.
bool related_product(product_codes& codes)
{
    std::wstring braced;
    return ferrolink::first_related_product(braced) && ferrolink::derive_product_codes(braced, codes);
}

std::string row_label(int row, HKEY root, const std::wstring& path)
{
    return "row " + std::to_string(row) + " " + root_name(root) + "\\" + wide_to_utf8(path);
}

audit_item installer_key_item(int row, const fp::installer_key& key, const product_codes* codes)
{
    const std::wstring prefix = key.prefix;
    if (key.code == fp::key_code::packed_upgrade)
        return key_item(kPart, row_label(row, key.root, prefix + fp::packed_upgrade_code), key.root,
                        prefix + fp::packed_upgrade_code);
    if (codes == nullptr)
        return absent_item(kPart, row_label(row, key.root, prefix + L"<product code>"),
                           "no product of the client's upgrade family is registered");
    const std::wstring path = prefix + (key.code == fp::key_code::product ? codes->braced : codes->packed);
    return key_item(kPart, row_label(row, key.root, path), key.root, path);
}

// Row 23: how many component keys still hold the product's value.
audit_item component_item(const product_codes* codes)
{
    const int row = kFirstInstallerRow + static_cast<int>(std::size(fp::installer_keys));
    const std::string label = "row " + std::to_string(row) + " component values in HKLM\\" +
                              wide_to_utf8(fp::components_key) + (codes ? wide_to_utf8(codes->packed) : "<packed product code>");
    if (codes == nullptr)
        return absent_item(kPart, label, "no product of the client's upgrade family is registered");
    unique_hkey components;
    const LONG opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, fp::components_key, 0, KEY_READ, components.put());
    if (opened == ERROR_FILE_NOT_FOUND)
        return absent_item(kPart, label);
    if (opened != ERROR_SUCCESS)
        return unchecked_item(kPart, label, static_cast<DWORD>(opened));
    unsigned count = 0;
    for (DWORD index = 0;; ++index) {
        wchar_t name[260] = {};
        DWORD length = 260;
        if (::RegEnumKeyExW(components.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        unique_hkey component;
        if (::RegOpenKeyExW(components.get(), name, 0, KEY_READ, component.put()) == ERROR_SUCCESS &&
            ferrolink::holds_value_exactly(component.get(), codes->packed))
            ++count;
    }
    return count == 0 ? absent_item(kPart, label) : present_item(kPart, label, std::to_string(count) + " key(s)");
}

audit_item upgrade_index_item()
{
    const std::wstring path = std::wstring(kUpgradeIndex) + fp::packed_upgrade_code;
    audit_item item = key_item(kPart, "Windows Installer's index HKLM\\" + wide_to_utf8(path), HKEY_LOCAL_MACHINE, path);
    item.detail = "Windows Installer's own record, which the cleaner does not remove";
    item.counted = false;
    return item;
}

} // namespace

audit_items check_installer_registration()
{
    product_codes codes;
    const product_codes* known = related_product(codes) ? &codes : nullptr;
    audit_items items;
    int row = kFirstInstallerRow;
    for (const fp::installer_key& key : fp::installer_keys)
        items.push_back(installer_key_item(row++, key, known));
    items.push_back(component_item(known));
    items.push_back(upgrade_index_item());
    return items;
}

} // namespace audit
