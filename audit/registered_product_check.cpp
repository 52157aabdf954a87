#include "audit/check_support.h"
#include "audit/checks.h"
#include "footprint/footprint.h"
#include "footprint/named_products.h"
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

} // namespace

audit_items check_registered_products()
{
    const std::string label = std::string("HKCR\\") + wide_to_utf8(fp::installer_products_key) + " named \"" +
                              wide_to_utf8(fp::product_name) + "\"";
    unique_hkey products;
    const LONG opened = fp::open_installer_products(products);
    if (opened == ERROR_FILE_NOT_FOUND)
        return {any_product(absent_item(kPart, label))};
    if (opened != ERROR_SUCCESS)
        return {any_product(unchecked_item(kPart, label, static_cast<DWORD>(opened)))};
    audit_items items;
    // The walk step 8 takes, with its bound: each key opened as itself, as step 8 opens it.
    fp::named_product_walk walk(products.get());
    for (std::wstring name; walk.next(name);) {
        const std::string key_name = wide_to_utf8(name);
        items.push_back(present_item(kPart, label, key_name));
        items.back().id = "product:" + key_name;
    }
    if (walk.stopped_at_bound())
        return {any_product(unchecked_item(kPart, label, kTooManyKeys))};
    if (items.empty())
        items.push_back(any_product(absent_item(kPart, label)));
    return items;
}

} // namespace audit
