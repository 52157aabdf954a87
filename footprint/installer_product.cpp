#include "footprint/installer_product.h"

#include "footprint/footprint.h"
#include "footprint/msi_api.h"
#include "footprint/named_products.h"
#include "footprint/packed_guid.h"
#include "mcl/mswin/unique_resource.h"

#include <cwchar>
#include <vector>

namespace ferrolink {

namespace {

const size_t kProductCodeLength = 38;
const DWORD kValueNameBuffer = 2048;
// Each source lists at most as many entries as the walk of the products under the client's name looks at.
const DWORD kMostListed = kMostProductKeys;

bool same_code(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

void add_code(std::vector<std::wstring>& codes, const std::wstring& braced)
{
    if (braced.empty())
        return;
    for (const std::wstring& known : codes) {
        if (same_code(known, braced))
            return;
    }
    codes.push_back(braced);
}

void add_related_products(std::vector<std::wstring>& codes)
{
    for (DWORD index = 0; index < kMostListed; ++index) {
        wchar_t buffer[40] = {};
        if (msi::enum_related_products(upgrade_code, index, buffer) != ERROR_SUCCESS)
            return;
        add_code(codes, buffer);
    }
}

// The value names of `prefix` + the packed upgrade code: one packed product code each.
void add_listed_products(std::vector<std::wstring>& codes, const wchar_t* prefix)
{
    mcl::mswin::unique_hkey key;
    const std::wstring path = std::wstring(prefix) + packed_upgrade_code;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return;
    std::vector<wchar_t> name(kValueNameBuffer);
    for (DWORD index = 0; index < kMostListed; ++index) {
        DWORD length = kValueNameBuffer;
        const LONG status = ::RegEnumValueW(key.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            return;
        add_code(codes, from_packed_guid(std::wstring(name.data(), length)));
    }
}

void add_named_products(std::vector<std::wstring>& codes)
{
    mcl::mswin::unique_hkey products;
    if (open_installer_products(products) != ERROR_SUCCESS)
        return;
    named_product_walk walk(products.get());
    for (std::wstring name; walk.next(name);)
        add_code(codes, from_packed_guid(name));
}

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

std::vector<std::wstring> client_product_codes()
{
    std::vector<std::wstring> codes;
    add_related_products(codes);
    add_listed_products(codes, classes_upgrade_codes);
    add_listed_products(codes, installer_upgrade_index);
    add_named_products(codes);
    return codes;
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
