#include "footprint/named_products.h"

#include "footprint/footprint.h"

#include <vector>

namespace ferrolink {

namespace {

const DWORD kSubkeyNameBuffer = 2048;
const DWORD kValueBufferBytes = 2048;

// True when the product key's "ProductName" is a string that is exactly the client's name.
bool has_client_product_name(HKEY product)
{
    wchar_t text[kValueBufferBytes / sizeof(wchar_t)] = {};
    DWORD type = 0;
    DWORD size = kValueBufferBytes;
    if (::RegQueryValueExW(product, product_name_value, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
        ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return false;
    // Stored strings need not end with a terminator; take exactly the bytes that were stored.
    size_t length = size / sizeof(wchar_t);
    while (length > 0 && text[length - 1] == L'\0')
        --length;
    return std::wstring(text, length) == product_name;
}

bool is_client_product(HKEY products, const wchar_t* name)
{
    mcl::mswin::unique_hkey product;
    return ::RegOpenKeyExW(products, name, REG_OPTION_OPEN_LINK, KEY_READ, product.put()) == ERROR_SUCCESS &&
           has_client_product_name(product.get());
}

} // namespace

LONG open_installer_products(mcl::mswin::unique_hkey& products)
{
    return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, installer_products_key, 0, KEY_READ, products.put());
}

bool named_product_walk::next(std::wstring& name)
{
    std::vector<wchar_t> listed(kSubkeyNameBuffer);
    for (;; ++index_) {
        DWORD length = kSubkeyNameBuffer;
        if (::RegEnumKeyExW(products_, index_, listed.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return false;
        if (index_ >= most_keys_) {
            stopped_at_bound_ = true;
            return false;
        }
        if (is_client_product(products_, listed.data())) {
            name.assign(listed.data(), length);
            ++index_;
            return true;
        }
    }
}

} // namespace ferrolink
