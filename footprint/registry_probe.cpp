#include "footprint/registry_probe.h"

#include "footprint/installer_product.h"

#include <cwchar>

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

std::wstring expanded_value(HKEY key, const wchar_t* subkey, const wchar_t* name)
{
    DWORD bytes = 0;
    if (::RegGetValueW(key, subkey, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS || bytes == 0)
        return std::wstring();
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    if (::RegGetValueW(key, subkey, name, RRF_RT_REG_SZ, nullptr, &value[0], &bytes) != ERROR_SUCCESS)
        return std::wstring();
    value.resize(std::wcslen(value.c_str()));
    return value;
}

} // namespace ferrolink
