#include "cleaner/mechanisms/component_sweep.h"

#include "footprint/footprint.h"
#include "footprint/installer_product.h"
#include "footprint/registry_probe.h"
#include "footprint/shared_dlls.h"
#include "footprint/user_data.h"
#include "cleaner/mechanisms/registry_key.h"
#include "cleaner/mechanisms/registry_tree.h"
#include "cleaner/run_log.h"
#include "cleaner/mechanisms/shared_dll_release.h"
#include "mcl/mswin/unique_resource.h"

#include <vector>

namespace cleaner {

using mcl::mswin::unique_hkey;

namespace {

const wchar_t* const kComponentsPath = ferrolink::components_key;
const DWORD kComponentNameBuffer = 260;

struct product_component {
    std::wstring name;      // the packed component code
    std::wstring key_file;  // the file its value names; empty when it names none
};

// The component keys that hold the product's value, in the order the enumeration meets them.
std::vector<product_component> find_product_components(HKEY components, const std::wstring& packed_product)
{
    std::vector<product_component> found;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kComponentNameBuffer] = {};
        DWORD length = kComponentNameBuffer;
        if (::RegEnumKeyExW(components, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return found;
        // A link there is opened as the link, which holds no product value: the sweep never reaches through it.
        unique_hkey component;
        if (ferrolink::open_key_as_itself(components, name, KEY_READ, component) != ERROR_SUCCESS)
            return found;
        if (ferrolink::holds_value_exactly(component.get(), packed_product))
            found.push_back({name, ferrolink::component_key_file(component.get(), packed_product)});
    }
}

// Deletes the product's value from the component key; `now_empty` tells whether anything else is left in it.
LONG delete_product_value(HKEY root, const std::wstring& path, const std::wstring& packed_product, bool& now_empty)
{
    unique_hkey component;
    LONG status = ferrolink::open_key_as_itself(root, path, KEY_QUERY_VALUE | KEY_SET_VALUE, component);
    if (status != ERROR_SUCCESS)
        return status;
    status = ::RegDeleteValueW(component.get(), packed_product.c_str());
    if (status != ERROR_SUCCESS)
        return status;
    DWORD subkeys = 0;
    DWORD values = 0;
    status = ::RegQueryInfoKeyW(component.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                nullptr, nullptr, nullptr, nullptr);
    now_empty = status == ERROR_SUCCESS && subkeys == 0 && values == 0;
    return status;
}

// The product no longer uses the component; the key itself goes only with its last client. A key or value
// that vanished since the scan (someone else released it) is just as gone. False when the value or the emptied
// key stays; `key_gone` tells whether the key went with the value.
bool release_component(HKEY root, const std::wstring& path, const std::wstring& packed_product, bool& key_gone)
{
    bool now_empty = false;
    LONG status = delete_product_value(root, path, packed_product, now_empty);
    if (status == ERROR_SUCCESS && now_empty)
        status = delete_key_itself(root, path);
    key_gone = status == ERROR_SUCCESS && now_empty;
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        return true;
    log_delete_failure(path, static_cast<DWORD>(status));
    return false;
}

// A component whose last product was the client's, anywhere in Windows Installer's user data, gives back the
// client's count of its key file.
void release_last_use(const product_component& component)
{
    if (!component.key_file.empty() && !ferrolink::component_still_registered(component.name))
        release_shared_dll(component.key_file);
}

} // namespace

int sweep_components_under(HKEY root, const std::wstring& components_path, const std::wstring& packed_product,
                           bool* released_all)
{
    if (released_all != nullptr)
        *released_all = false;
    std::vector<product_component> found;
    {
        unique_hkey components;
        const LONG opened = ::RegOpenKeyExW(root, components_path.c_str(), 0, KEY_READ, components.put());
        if (opened == ERROR_FILE_NOT_FOUND) {
            log_line("\tRegOpenKeyEx, Key [%s] uninstalled succeed.", wide_to_utf8(components_path).c_str());
            if (released_all != nullptr)
                *released_all = true;
            return 1;
        }
        if (opened != ERROR_SUCCESS) {
            log_line("\tRegOpenKeyEx,failed to open the key.");
            return 0;
        }
        found = find_product_components(components.get(), packed_product);
    }
    bool all = true;
    for (const product_component& component : found) {
        bool key_gone = false;
        all = release_component(root, components_path + component.name, packed_product, key_gone) && all;
        if (key_gone)
            release_last_use(component);
    }
    if (released_all != nullptr)
        *released_all = all;
    return 1;
}

int sweep_components(const std::wstring& packed_product, bool* released_all)
{
    return sweep_components_under(HKEY_LOCAL_MACHINE, kComponentsPath, packed_product, released_all);
}

} // namespace cleaner
