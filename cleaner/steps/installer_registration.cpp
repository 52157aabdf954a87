#include "cleaner/steps/installer_registration.h"

#include "footprint/footprint.h"
#include "footprint/installer_product.h"
#include "cleaner/mechanisms/registry_tree.h"
#include "cleaner/run_log.h"
#include "mcl/mswin/unique_resource.h"

#include <windows.h>

#include <string>

namespace cleaner {

using mcl::mswin::unique_hkey;

namespace {

const wchar_t* const kProductsKey = ferrolink::installer_products_key;
const DWORD kSubkeyNameBuffer = 2048;

// Name of the first product subkey registered under the client's name; false when there is none.
bool find_client_product(HKEY products, std::wstring& subkey)
{
    std::wstring name(kSubkeyNameBuffer, L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = kSubkeyNameBuffer;
        if (::RegEnumKeyExW(products, index, &name[0], &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return false;
        // Opened as the key itself: a link there is no product, and the audit sees it the same way.
        if (ferrolink::is_client_product(products, name.c_str())) {
            subkey.assign(name.c_str(), length);
            return true;
        }
    }
}

} // namespace

int check_installer_registration()
{
    std::wstring subkey;
    {
        unique_hkey products;
        if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, kProductsKey, 0, KEY_READ, products.put()) != ERROR_SUCCESS) {
            log_line("\t Failed to RegOpenKeyEx [%s]", wide_to_utf8(kProductsKey).c_str());
            return 0;
        }
        if (!find_client_product(products.get(), subkey)) {
            products.reset();
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
