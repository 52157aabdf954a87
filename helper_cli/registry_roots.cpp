#include "helper_cli/registry_roots.h"

#include "helper_cli/helper_command.h"

#include <cstring>

std::map<std::string, std::uint64_t> registry_root_names;
std::map<std::uint64_t, std::u16string> registry_root_labels;

void init_registry_root_tables()
{
    struct root_row {
        const char* name;
        const char16_t* label;
        std::uint64_t root;
    };
    static const root_row rows[] = {
        {"HKCR", u"HKCR", hkey_classes_root}, {"HKCC", u"HKCC", hkey_current_config},
        {"HKCU", u"HKCU", hkey_current_user}, {"HKLM", u"HKLM", hkey_local_machine},
        {"HKU", u"HKU", hkey_users},
    };
    for (const root_row& row : rows) {
        registry_root_names.emplace(row.name, row.root);
        registry_root_labels.emplace(row.root, row.label);
    }
}

namespace helper_cli {

bool parse_registry_key(const char* key, std::uint64_t& root, std::string& subkey)
{
    if (key == nullptr)
        return false;
    const char* separator = std::strchr(key, '\\');
    if (separator == nullptr)
        return false;
    const auto found = registry_root_names.find(std::string(key, separator));
    if (found == registry_root_names.end())
        return false;
    root = found->second;
    subkey = separator + 1;
    return true;
}

std::u16string registry_root_label(std::uint64_t root)
{
    const auto found = registry_root_labels.find(root);
    if (found != registry_root_labels.end())
        return found->second;
    const std::string digits = std::to_string(root);
    return std::u16string(digits.begin(), digits.end());
}

} // namespace helper_cli
