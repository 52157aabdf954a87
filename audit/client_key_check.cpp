#include "audit/check_support.h"
#include "audit/checks.h"
#include "footprint/footprint.h"
#include "footprint/registry_probe.h"
#include "mcl/mswin/unique_resource.h"

namespace audit {

namespace {

namespace fp = ferrolink;
using mcl::mswin::unique_hkey;

const char kPart[] = "registry";
const wchar_t kProfiles[] = L"Profiles";
const int kDeepest = 32;
const char kKeptProfiles[] = "only the saved connection profiles, which an unattended run keeps";

// True when the key has subkeys and each is a "Profiles" key (the exact name, as the deleter keeps it) or leads
// only to such keys: the shape an unattended run leaves of the product key. Subkeys are opened as themselves, as
// the deleter opens them: a link has no subkeys of its own and so is something else left.
bool leads_only_to_profiles(HKEY key, int depth, key_budget& budget)
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
        if (status != ERROR_SUCCESS || !budget.take())
            return false;
        if (std::wstring(name, length) == kProfiles)
            continue;
        unique_hkey child;
        if (fp::open_key_as_itself(key, name, KEY_READ, child) != ERROR_SUCCESS ||
            !leads_only_to_profiles(child.get(), depth + 1, budget))
            return false;
    }
    return index > 0;
}

std::string key_label(const std::string& row, HKEY root, const std::wstring& path)
{
    return row + " " + root_name(root) + "\\" + wide_to_utf8(path);
}

// The product key kept with its profiles is shown, and not counted.
void mark_kept_profiles(audit_item& item, const wchar_t* product_key)
{
    if (item.state == item_state::present && only_saved_profiles_left(product_key)) {
        item.detail = kKeptProfiles;
        item.counted = false;
    }
}

// The values of the Run keys that the cleaner deletes, by their exact names.
audit_item run_value_item(const wchar_t* run_key, const wchar_t* name)
{
    const std::string label = "Run value HKLM\\" + wide_to_utf8(std::wstring(run_key) + L"\\" + name);
    const LONG status = fp::probe_run_value(run_key, name);
    if (status == ERROR_SUCCESS)
        return present_item(kPart, label);
    if (status == ERROR_FILE_NOT_FOUND)
        return absent_item(kPart, label);
    return unchecked_item(kPart, label, static_cast<DWORD>(status));
}

} // namespace

bool only_saved_profiles_left(const wchar_t* product_key)
{
    unique_hkey key;
    key_budget budget;
    return fp::open_key_as_itself(HKEY_LOCAL_MACHINE, product_key, KEY_READ, key) == ERROR_SUCCESS &&
           leads_only_to_profiles(key.get(), 0, budget);
}

bool only_saved_profiles_left()
{
    return only_saved_profiles_left(fp::client_keys[0].path);
}

audit_items check_client_keys()
{
    audit_items items;
    int row = 1;
    for (const fp::client_key& key : fp::client_keys) {
        items.push_back(key_item(kPart, key_label("row " + std::to_string(row), key.root, key.path), key.root,
                                 key.path));
        items.back().id = "registry:row" + std::to_string(row++);
    }
    mark_kept_profiles(items.front(), fp::client_keys[0].path);
    items.push_back(key_item(kPart, key_label("row 1 (32-bit view)", HKEY_LOCAL_MACHINE, fp::product_key_32),
                             HKEY_LOCAL_MACHINE, fp::product_key_32));
    items.back().id = "registry:row1:32-bit";
    mark_kept_profiles(items.back(), fp::product_key_32);
    for (const wchar_t* run_key : fp::run_keys) {
        const char* view = run_key == fp::run_keys[0] ? "64-bit" : "32-bit";
        for (const wchar_t* name : fp::run_value_names) {
            items.push_back(run_value_item(run_key, name));
            items.back().id = std::string("registry:run:") + view + ":" + wide_to_utf8(name);
        }
    }
    // Row 12's key is the classes root's: the machine's copy may stay behind a user's copy.
    const fp::client_key& classes_row = fp::client_keys[11];
    const std::wstring machine_copy = fp::machine_classes + std::wstring(classes_row.path);
    items.push_back(key_item(kPart, key_label("row 12 (machine copy)", HKEY_LOCAL_MACHINE, machine_copy),
                             HKEY_LOCAL_MACHINE, machine_copy));
    items.back().id = "registry:row12:machine";
    return items;
}

} // namespace audit
