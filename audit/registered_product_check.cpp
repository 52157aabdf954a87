#include "audit/check_support.h"
#include "audit/checks.h"
#include "footprint/footprint.h"
#include "footprint/installer_product.h"
#include "mcl/mswin/unique_resource.h"

namespace audit {

namespace {

namespace fp = ferrolink;
using mcl::mswin::unique_hkey;

const char kPart[] = "products";
// The item that stands for every product under the client's name when none is found, or none could be looked for.
const char kAnyProductId[] = "product:any";

audit_item any_product(audit_item item)
{
    item.id = kAnyProductId;
    return item;
}
const DWORD kSubkeyNameBuffer = 2048;

} // namespace

audit_items check_registered_products()
{
    const std::string label = std::string("HKCR\\") + wide_to_utf8(fp::installer_products_key) + " named \"" +
                              wide_to_utf8(fp::product_name) + "\"";
    unique_hkey products;
    const LONG opened = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, fp::installer_products_key, 0, KEY_READ, products.put());
    if (opened == ERROR_FILE_NOT_FOUND)
        return {any_product(absent_item(kPart, label))};
    if (opened != ERROR_SUCCESS)
        return {any_product(unchecked_item(kPart, label, static_cast<DWORD>(opened)))};
    audit_items items;
    std::wstring name(kSubkeyNameBuffer, L'\0');
    key_budget budget;
    for (DWORD index = 0;; ++index) {
        DWORD length = kSubkeyNameBuffer;
        if (::RegEnumKeyExW(products.get(), index, &name[0], &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        if (!budget.take())
            return {any_product(unchecked_item(kPart, label, kTooManyKeys))};
        // Opened as the key itself, as step 8 opens it.
        if (ferrolink::is_client_product(products.get(), name.c_str())) {
            const std::string key_name = wide_to_utf8(std::wstring(name.c_str(), length));
            items.push_back(present_item(kPart, label, key_name));
            items.back().id = "product:" + key_name;
        }
    }
    if (items.empty())
        items.push_back(any_product(absent_item(kPart, label)));
    return items;
}

} // namespace audit
