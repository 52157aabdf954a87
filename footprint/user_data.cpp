#include "footprint/user_data.h"

#include "footprint/footprint.h"
#include "footprint/packed_guid.h"
#include "footprint/registry_probe.h"
#include "mcl/mswin/unique_resource.h"

#include <windows.h>

namespace ferrolink {

namespace {

using mcl::mswin::unique_hkey;

const DWORD kNameBuffer = 260;
// A listing longer than this is no machine's: it ends the walk instead of holding it.
const DWORD kMostListed = 100000;

// The names of the subkeys of the HKLM key at `path` (opened as itself), in the order listed.
std::vector<std::wstring> subkeys_of(const std::wstring& path)
{
    std::vector<std::wstring> names;
    unique_hkey key;
    if (open_key_as_itself(HKEY_LOCAL_MACHINE, path, KEY_ENUMERATE_SUB_KEYS, key) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0; index < kMostListed; ++index) {
        wchar_t name[kNameBuffer] = {};
        DWORD length = kNameBuffer;
        if (::RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

bool key_there(const std::wstring& path)
{
    return probe_key(HKEY_LOCAL_MACHINE, path) != ERROR_FILE_NOT_FOUND;
}

} // namespace

bool is_user_data_sid(const std::wstring& name)
{
    if (name.size() < 5 || name.compare(0, 4, L"S-1-") != 0 || name.back() == L'-')
        return false;
    for (size_t i = 4; i < name.size(); ++i) {
        const bool digit = name[i] >= L'0' && name[i] <= L'9';
        if (!digit && (name[i] != L'-' || name[i - 1] == L'-'))
            return false;
    }
    return true;
}

std::wstring user_data_path(const std::wstring& sid)
{
    return installer_user_data_key + sid;
}

std::vector<std::wstring> user_data_sids()
{
    std::vector<std::wstring> sids;
    for (std::wstring& name : subkeys_of(installer_user_data_key)) {
        if (is_user_data_sid(name))
            sids.push_back(std::move(name));
    }
    return sids;
}

std::vector<std::wstring> product_patches(const std::wstring& sid, const std::wstring& packed_product)
{
    std::vector<std::wstring> patches;
    for (std::wstring& name : subkeys_of(user_data_path(sid) + user_data_products + packed_product +
                                         product_patches_subkey)) {
        if (!from_packed_guid(name).empty())
            patches.push_back(std::move(name));
    }
    return patches;
}

bool patch_still_applied(const std::wstring& packed_patch)
{
    for (const std::wstring& sid : user_data_sids()) {
        const std::wstring products = user_data_path(sid) + user_data_products;
        for (const std::wstring& product : subkeys_of(products)) {
            if (key_there(products + product + product_patches_subkey + L"\\" + packed_patch))
                return true;
        }
    }
    return false;
}

bool component_still_registered(const std::wstring& packed_component)
{
    for (const std::wstring& sid : user_data_sids()) {
        if (key_there(user_data_path(sid) + user_data_components + packed_component))
            return true;
    }
    return false;
}

} // namespace ferrolink
