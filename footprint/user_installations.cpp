#include "footprint/user_installations.h"

#include "footprint/footprint.h"
#include "footprint/msi_api.h"
#include "footprint/packed_guid.h"
#include "footprint/registry_probe.h"
#include "footprint/user_data.h"
#include "mcl/mswin/unique_resource.h"

#include <msi.h>

namespace ferrolink {

namespace {

using mcl::mswin::unique_hkey;

const DWORD kNameBuffer = 260;
const DWORD kSidUnits = 256;
const DWORD kMostListed = 100000;
const wchar_t kAllUsers[] = L"s-1-1-0";

bool same_text(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

bool is_listed(const std::vector<std::wstring>& codes, const std::wstring& code)
{
    for (const std::wstring& known : codes) {
        if (same_text(known, code))
            return true;
    }
    return false;
}

// Whether the HKLM key at `path`, opened as itself, holds the client's name in the string value `name`.
bool names_client(const std::wstring& path, const wchar_t* name)
{
    unique_hkey key;
    if (open_key_as_itself(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
        return false;
    wchar_t text[1024] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    DWORD type = REG_NONE;
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    size_t length = size / sizeof(wchar_t);
    while (length > 0 && text[length - 1] == L'\0')
        --length;
    return std::wstring(text, length) == product_name;
}

bool lists_product(const std::wstring& path, const std::wstring& packed_product)
{
    unique_hkey key;
    return open_key_as_itself(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE, key) == ERROR_SUCCESS &&
           holds_value_exactly(key.get(), packed_product);
}

bool is_client_installation(const user_installation& found, const std::vector<std::wstring>& client_codes)
{
    if (is_listed(client_codes, found.codes.braced))
        return true;
    const std::wstring managed = managed_installer_path(found.sid);
    return names_client(user_data_path(found.sid) + user_data_products + found.codes.packed +
                            install_properties_key,
                        display_name_value) ||
           names_client(managed + context_products + found.codes.packed, product_name_value) ||
           lists_product(managed + context_upgrade_codes + packed_upgrade_code, found.codes.packed);
}

void add_installation(std::vector<user_installation>& found, const std::wstring& sid, const std::wstring& braced)
{
    user_installation candidate{sid, {}};
    if (sid == machine_user_data_sid || !is_user_data_sid(sid) || !derive_product_codes(braced, candidate.codes))
        return;
    for (const user_installation& known : found) {
        if (same_text(known.sid, sid) && same_text(known.codes.braced, braced))
            return;
    }
    found.push_back(candidate);
}

void add_reported_installations(std::vector<user_installation>& found)
{
    for (DWORD index = 0; index < kMostListed; ++index) {
        wchar_t code[39] = {};
        wchar_t sid[kSidUnits] = {};
        DWORD sid_units = kSidUnits;
        const UINT status = msi::enum_products_ex(kAllUsers, MSIINSTALLCONTEXT_USERMANAGED |
                                                                 MSIINSTALLCONTEXT_USERUNMANAGED,
                                                  index, code, sid, &sid_units);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            return;
        add_installation(found, sid, code);
    }
}

// The packed product codes named by the subkeys of the HKLM key at `path`.
void add_registered_installations(std::vector<user_installation>& found, const std::wstring& sid,
                                  const std::wstring& path)
{
    unique_hkey key;
    if (open_key_as_itself(HKEY_LOCAL_MACHINE, path, KEY_ENUMERATE_SUB_KEYS, key) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0; index < kMostListed; ++index) {
        wchar_t name[kNameBuffer] = {};
        DWORD length = kNameBuffer;
        if (::RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        add_installation(found, sid, from_packed_guid(std::wstring(name, length)));
    }
}

void add_managed_installations(std::vector<user_installation>& found)
{
    unique_hkey managed;
    if (open_key_as_itself(HKEY_LOCAL_MACHINE, installer_managed_key, KEY_ENUMERATE_SUB_KEYS, managed) !=
        ERROR_SUCCESS)
        return;
    for (DWORD index = 0; index < kMostListed; ++index) {
        wchar_t name[kNameBuffer] = {};
        DWORD length = kNameBuffer;
        if (::RegEnumKeyExW(managed.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        const std::wstring sid(name, length);
        if (is_user_data_sid(sid))
            add_registered_installations(found, sid, managed_installer_path(sid) + context_products);
    }
}

} // namespace

std::wstring managed_installer_path(const std::wstring& sid)
{
    return installer_managed_key + sid + managed_installer_subkey;
}

std::vector<user_installation> client_user_installations(const std::vector<std::wstring>& client_codes)
{
    std::vector<user_installation> found;
    add_reported_installations(found);
    for (const std::wstring& sid : user_data_sids())
        add_registered_installations(found, sid, user_data_path(sid) + user_data_products);
    add_managed_installations(found);
    std::vector<user_installation> clients;
    for (user_installation& candidate : found) {
        if (is_client_installation(candidate, client_codes))
            clients.push_back(std::move(candidate));
    }
    return clients;
}

} // namespace ferrolink
