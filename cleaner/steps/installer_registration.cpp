#include "cleaner/steps/installer_registration.h"

#include "footprint/footprint.h"
#include "footprint/named_products.h"
#include "cleaner/mechanisms/registry_tree.h"
#include "cleaner/run_log.h"
#include "mcl/mswin/unique_resource.h"

#include <windows.h>

#include <string>

namespace cleaner {

using mcl::mswin::unique_hkey;

namespace {

const wchar_t* const kProductsKey = ferrolink::installer_products_key;

} // namespace

int check_installer_registration()
{
    return check_installer_registration_bounded(ferrolink::kMostProductKeys);
}

int check_installer_registration_bounded(DWORD most_product_keys)
{
    std::wstring subkey;
    {
        unique_hkey products;
        if (ferrolink::open_installer_products(products) != ERROR_SUCCESS) {
            log_line("\t Failed to RegOpenKeyEx [%s]", wide_to_utf8(kProductsKey).c_str());
            return 0;
        }
        // Each key opened as itself: a link there is no product, and the audit sees it the same way.
        ferrolink::named_product_walk walk(products.get(), most_product_keys);
        if (!walk.next(subkey)) {
            products.reset();
            // A search that stopped at its bound has not shown that no registration is left.
            if (walk.stopped_at_bound()) {
                log_line("\tCan not look through every product registration: stopped after %lu keys",
                         static_cast<unsigned long>(most_product_keys));
                return 0;
            }
            log_line("\tCan not find Orvane Ferrolink Register");
            return 1;
        }
        log_line("\tFind ProductName in RegOpenKeyEx");
    }
    log_line("\tTry to delete Orvane Ferrolink Register");
    if (!delete_registry_tree(HKEY_CLASSES_ROOT, std::wstring(kProductsKey) + L"\\" + subkey, false))
        return 0;
    restart_required = true;
    return 1;
}

} // namespace cleaner
