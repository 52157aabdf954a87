#include "footprint/installer_product.h"

#include "footprint/footprint.h"
#include "footprint/packed_guid.h"

#include <msi.h>

#include <cwchar>
#include <vector>

namespace ferrolink {

namespace {

const size_t kProductCodeLength = 38;
const DWORD kValueBufferBytes = 2048;
const DWORD kValueNameBuffer = 2048;

} // namespace

bool derive_product_codes(const std::wstring& braced, product_codes& codes)
{
    if (braced.size() != kProductCodeLength || braced.front() != L'{' || braced.back() != L'}')
        return false;
    codes.braced = braced;
    codes.bare = braced.substr(1, braced.size() - 2);
    codes.packed = to_packed_guid(codes.bare);
    return !codes.packed.empty();
}

bool first_related_product(std::wstring& product_code)
{
    wchar_t buffer[40] = {};
    if (::MsiEnumRelatedProductsW(upgrade_code, 0, 0, buffer) != ERROR_SUCCESS)
        return false;
    product_code = buffer;
    return true;
}

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

// The direct query ignores case and answers for nearly every key; only where it finds a value does the
// enumeration confirm the exact name.
bool holds_value_exactly(HKEY key, const std::wstring& name)
{
    if (::RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> value_name(kValueNameBuffer);
    for (DWORD index = 0;; ++index) {
        DWORD length = kValueNameBuffer;
        const LONG status =
            ::RegEnumValueW(key, index, value_name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            return false;
        if (length == name.size() && std::wmemcmp(value_name.data(), name.data(), length) == 0)
            return true;
    }
}

} // namespace ferrolink
