#include "audit/check_support.h"
#include "audit/checks.h"
#include "footprint/cached_package.h"
#include "footprint/footprint.h"
#include "footprint/installer_product.h"
#include "footprint/registry_probe.h"
#include "mcl/mswin/unique_resource.h"

#include <iterator>
#include <vector>

namespace audit {

namespace {

namespace fp = ferrolink;
using mcl::mswin::unique_hkey;

const char kPart[] = "installer";
const int kFirstInstallerRow = 13;
const int kComponentsRow = kFirstInstallerRow + static_cast<int>(std::size(fp::installer_keys));
const char kNoProduct[] = "no product of the client is registered";

// Per-user installations register under the user's own classes, which the cleaner does not reach.
const wchar_t kPerUserIndex[] = L"Software\\Microsoft\\Installer\\UpgradeCodes\\";

using ferrolink::product_codes;

// Every product of the client that the registry cleanup finds, in its order; codes it would not touch are left
// out, as it leaves them.
std::vector<product_codes> client_products()
{
    std::vector<product_codes> products;
    for (const std::wstring& braced : fp::client_product_codes()) {
        product_codes codes;
        if (fp::derive_product_codes(braced, codes))
            products.push_back(codes);
    }
    return products;
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
        return absent_item(kPart, row_label(row, key.root, prefix + L"<product code>"), kNoProduct);
    const std::wstring path = prefix + (key.code == fp::key_code::product ? codes->braced : codes->packed);
    return key_item(kPart, row_label(row, key.root, path), key.root, path);
}

// Row 23: how many component keys still hold the product's value; each is opened as itself, as the sweep does.
audit_item component_item(const product_codes* codes)
{
    const std::string label = "row " + std::to_string(kComponentsRow) + " component values in HKLM\\" +
                              wide_to_utf8(fp::components_key) +
                              (codes ? wide_to_utf8(codes->packed) : "<packed product code>");
    if (codes == nullptr)
        return absent_item(kPart, label, kNoProduct);
    unique_hkey components;
    const LONG opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, fp::components_key, 0, KEY_READ, components.put());
    if (opened == ERROR_FILE_NOT_FOUND)
        return absent_item(kPart, label);
    if (opened != ERROR_SUCCESS)
        return unchecked_item(kPart, label, static_cast<DWORD>(opened));
    unsigned count = 0;
    key_budget budget;
    for (DWORD index = 0;; ++index) {
        wchar_t name[260] = {};
        DWORD length = 260;
        if (::RegEnumKeyExW(components.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        if (!budget.take())
            return unchecked_item(kPart, label, kTooManyKeys);
        unique_hkey component;
        if (fp::open_key_as_itself(components.get(), name, KEY_READ, component) == ERROR_SUCCESS &&
            fp::holds_value_exactly(component.get(), codes->packed))
            ++count;
    }
    return count == 0 ? absent_item(kPart, label) : present_item(kPart, label, std::to_string(count) + " key(s)");
}

// The product's cached package, as long as its registration names it.
void add_cached_package_item(const product_codes& codes, audit_items& items)
{
    const std::wstring path = fp::registered_cached_package(codes);
    if (path.empty())
        return;
    const std::string label = "row 22 cached package " + wide_to_utf8(path);
    mcl::mswin::unique_handle file;
    const DWORD opened = fp::open_cached_package(path, FILE_READ_ATTRIBUTES, file);
    if (opened == 0)
        items.push_back(present_item(kPart, label));
    else if (opened == ERROR_FILE_NOT_FOUND)
        items.push_back(absent_item(kPart, label));
    else if (opened != ERROR_BAD_PATHNAME)
        items.push_back(unchecked_item(kPart, label, opened));
    else {
        audit_item refused = unchecked_item(kPart, label, opened);
        refused.detail = "not a plain file directly inside the Installer folder, which the cleaner leaves";
        refused.counted = false;
        items.push_back(refused);
    }
    items.back().id = "installer:row22:package:" + wide_to_utf8(codes.braced);
}

// "installer:row14:{product code}"; a row of the upgrade code, or of no product, has no code in its id.
std::string row_id(int row, const product_codes* codes, bool by_product)
{
    const std::string id = "installer:row" + std::to_string(row);
    return codes != nullptr && by_product ? id + ":" + wide_to_utf8(codes->braced) : id;
}

// Rows 13 to 23 of one product; the rows of the upgrade code only once.
void add_product_items(const product_codes* codes, bool with_upgrade_rows, audit_items& items)
{
    int row = kFirstInstallerRow;
    for (const fp::installer_key& key : fp::installer_keys) {
        if (with_upgrade_rows || key.code != fp::key_code::packed_upgrade) {
            items.push_back(installer_key_item(row, key, codes));
            items.back().id = row_id(row, codes, key.code != fp::key_code::packed_upgrade);
        }
        ++row;
    }
    items.push_back(component_item(codes));
    items.back().id = row_id(kComponentsRow, codes, true);
    if (codes != nullptr)
        add_cached_package_item(*codes, items);
}

audit_item upgrade_index_item()
{
    const std::wstring path = std::wstring(fp::installer_upgrade_index) + fp::packed_upgrade_code;
    audit_item item = key_item(kPart, "installer index HKLM\\" + wide_to_utf8(path), HKEY_LOCAL_MACHINE, path);
    item.detail = "Windows Installer's own record of the upgrade family, which the cleaner deletes last";
    item.id = "installer:upgrade_index";
    return item;
}

audit_item per_user_index_item()
{
    const std::wstring path = std::wstring(kPerUserIndex) + fp::packed_upgrade_code;
    audit_item item = key_item(kPart, "Windows Installer's index of per-user installations HKCU\\" + wide_to_utf8(path),
                               HKEY_CURRENT_USER, path);
    item.detail = "per-user installations, which the cleaner does not remove";
    item.id = "installer:per_user_index";
    item.counted = false;
    return item;
}

} // namespace

audit_items check_installer_registration()
{
    const std::vector<product_codes> products = client_products();
    audit_items items;
    if (products.empty())
        add_product_items(nullptr, true, items);
    for (size_t i = 0; i < products.size(); ++i)
        add_product_items(&products[i], i == 0, items);
    items.push_back(upgrade_index_item());
    items.push_back(per_user_index_item());
    return items;
}

} // namespace audit
