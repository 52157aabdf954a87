#include "audit/check_support.h"
#include "audit/checks.h"
#include "footprint/footprint.h"
#include "mcl/mswin/unique_resource.h"

namespace audit {

namespace {

namespace fp = ferrolink;
using mcl::mswin::unique_hkey;

const wchar_t kProfiles[] = L"Profiles";
const int kDeepest = 32;
const char kKeptProfiles[] = "only the saved connection profiles, which an unattended run keeps";

// True when the key has subkeys and each is a "Profiles" key (the exact name, as the deleter keeps it) or leads
// only to such keys: the shape an unattended run leaves of the product key.
bool leads_only_to_profiles(HKEY key, int depth)
{
    if (depth > kDeepest)
        return false;
    DWORD index = 0;
    for (;; ++index) {
        wchar_t name[256] = {};
        DWORD length = 256;
        const LONG status = ::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            return false;
        if (std::wstring(name, length) == kProfiles)
            continue;
        unique_hkey child;
        if (::RegOpenKeyExW(key, name, 0, KEY_READ, child.put()) != ERROR_SUCCESS ||
            !leads_only_to_profiles(child.get(), depth + 1))
            return false;
    }
    return index > 0;
}

} // namespace

bool only_saved_profiles_left()
{
    const fp::client_key& product = fp::client_keys[0];
    unique_hkey key;
    return ::RegOpenKeyExW(product.root, product.path, 0, KEY_READ, key.put()) == ERROR_SUCCESS &&
           leads_only_to_profiles(key.get(), 0);
}

audit_items check_client_keys()
{
    audit_items items;
    int row = 1;
    for (const fp::client_key& key : fp::client_keys) {
        const std::string label = "row " + std::to_string(row++) + " " + root_name(key.root) + "\\" + wide_to_utf8(key.path);
        items.push_back(key_item("registry", label, key.root, key.path));
    }
    if (items.front().state == item_state::present && only_saved_profiles_left()) {
        items.front().detail = kKeptProfiles;
        items.front().counted = false;
    }
    return items;
}

} // namespace audit
