#include "footprint/installer_folders.h"

#include "footprint/footprint.h"
#include "footprint/registry_probe.h"
#include "mcl/mswin/unique_resource.h"

#include <windows.h>

namespace ferrolink {

namespace {

const DWORD kValueNameBuffer = 16384;
const DWORD kMostListed = 100000;

std::wstring without_trailing_backslash(std::wstring path)
{
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

bool same_text(const wchar_t* a, size_t a_length, const wchar_t* b, size_t b_length)
{
    return ::CompareStringOrdinal(a, static_cast<int>(a_length), b, static_cast<int>(b_length), TRUE) ==
           CSTR_EQUAL;
}

// `entry` is `folder` itself or lies below it.
bool is_at_or_below(const std::wstring& entry, const std::wstring& folder)
{
    const std::wstring name = without_trailing_backslash(entry);
    const std::wstring top = without_trailing_backslash(folder);
    if (top.empty() || name.size() < top.size() || !same_text(name.c_str(), top.size(), top.c_str(), top.size()))
        return false;
    return name.size() == top.size() || name[top.size()] == L'\\';
}

} // namespace

std::vector<std::wstring> folder_entries_under(const std::vector<std::wstring>& folders)
{
    std::vector<std::wstring> entries;
    mcl::mswin::unique_hkey key;
    if (open_key_as_itself(HKEY_LOCAL_MACHINE, installer_folders_key, KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
        return entries;
    std::wstring name(kValueNameBuffer, L'\0');
    for (DWORD index = 0; index < kMostListed; ++index) {
        DWORD length = kValueNameBuffer;
        const LONG status = ::RegEnumValueW(key.get(), index, &name[0], &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        const std::wstring entry(name.c_str(), length);
        for (const std::wstring& folder : folders) {
            if (is_at_or_below(entry, folder)) {
                entries.push_back(entry);
                break;
            }
        }
    }
    return entries;
}

} // namespace ferrolink
