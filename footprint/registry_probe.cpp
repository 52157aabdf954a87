#include "footprint/registry_probe.h"

#include "footprint/installer_product.h"

namespace ferrolink {

namespace {

const wchar_t kLinkValue[] = L"SymbolicLinkValue";

} // namespace

LONG open_key_as_itself(HKEY root, const std::wstring& path, REGSAM access, mcl::mswin::unique_hkey& key)
{
    return ::RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, access, key.put());
}

LONG probe_key(HKEY root, const std::wstring& path)
{
    mcl::mswin::unique_hkey key;
    return open_key_as_itself(root, path, KEY_QUERY_VALUE, key);
}

bool is_registry_link(HKEY key)
{
    DWORD type = REG_NONE;
    return ::RegQueryValueExW(key, kLinkValue, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS && type == REG_LINK;
}

LONG open_run_key(const wchar_t* run_key, REGSAM access, mcl::mswin::unique_hkey& key)
{
    return open_key_as_itself(HKEY_LOCAL_MACHINE, run_key, access, key);
}

LONG probe_run_value(const wchar_t* run_key, const wchar_t* name)
{
    mcl::mswin::unique_hkey key;
    const LONG opened = open_run_key(run_key, KEY_QUERY_VALUE, key);
    if (opened != ERROR_SUCCESS)
        return opened;
    return holds_value_exactly(key.get(), name) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

} // namespace ferrolink
