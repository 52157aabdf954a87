#include "footprint/quick_launch.h"

#include "footprint/folder_entry.h"
#include "footprint/footprint.h"
#include "footprint/linkless_path.h"

#include <algorithm>
#include <vector>

namespace ferrolink {

namespace {

using mcl::mswin::unique_handle;
using mcl::mswin::unique_hkey;

const ACCESS_MASK kWalkAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
// A folder path, expanded, is far shorter; a longer value is no folder anyone set.
const DWORD kMostValueBytes = 64 * 1024;

std::wstring default_appdata(const user_profile& profile)
{
    std::wstring path = profile.folder;
    for (const wchar_t* name : default_appdata_folders)
        path += std::wstring(L"\\") + name;
    return path;
}

std::wstring windows_folder()
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(folder, MAX_PATH);
    return length != 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

// The value as stored, unexpanded: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (no key or no value), or another error
// (ERROR_UNSUPPORTED_TYPE for a value that is no string).
LONG read_appdata_value(const user_hive& hive, std::wstring& value)
{
    unique_hkey key;
    const std::wstring path = hive.name() + L"\\" + user_shell_folders_key;
    LONG status = ::RegOpenKeyExW(HKEY_USERS, path.c_str(), 0, KEY_QUERY_VALUE, key.put());
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    if (status == ERROR_SUCCESS)
        status = ::RegQueryValueExW(key.get(), user_appdata_value, nullptr, &type, nullptr, &bytes);
    if (status != ERROR_SUCCESS)
        return status;
    if ((type != REG_EXPAND_SZ && type != REG_SZ) || bytes > kMostValueBytes)
        return ERROR_UNSUPPORTED_TYPE;
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    status = ::RegQueryValueExW(key.get(), user_appdata_value, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                                &bytes);
    if (status != ERROR_SUCCESS)
        return status;
    value.assign(text.data());
    return ERROR_SUCCESS;
}

// The drive of a local path as this machine sees it: a network drive is a share, and a drive letter this
// machine lacks is one the user maps at logon, which is unknown here.
appdata_location checked_drive(appdata_location location)
{
    if (location.kind != appdata_kind::local)
        return location;
    const UINT type = ::GetDriveTypeW(location.path.substr(0, 3).c_str());
    if (type == DRIVE_REMOTE)
        location.kind = appdata_kind::network;
    else if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN)
        location.kind = appdata_kind::unresolved;
    return location;
}

bool same_text(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

std::vector<std::wstring> components_of(const std::wstring& relative)
{
    std::vector<std::wstring> components;
    for (size_t at = 0; at < relative.size();) {
        const size_t end = std::min(relative.find(L'\\', at), relative.size());
        if (end > at)
            components.push_back(relative.substr(at, end - at));
        at = end + 1;
    }
    return components;
}

// The folders from the profile folder down to AppData, when AppData lies inside the profile folder.
bool below_profile(const user_profile& profile, const std::wstring& appdata, std::vector<std::wstring>& below)
{
    std::wstring profile_full;
    std::wstring appdata_full;
    if (!absolute_form(profile.folder, profile_full) || !absolute_form(appdata, appdata_full))
        return false;
    while (!profile_full.empty() && profile_full.back() == L'\\')
        profile_full.pop_back();
    if (appdata_full.size() < profile_full.size() || !same_text(appdata_full.substr(0, profile_full.size()), profile_full))
        return false;
    if (appdata_full.size() > profile_full.size() && appdata_full[profile_full.size()] != L'\\')
        return false;
    below = components_of(appdata_full.substr(profile_full.size()));
    return true;
}

// One folder down, opened as itself: a link there ends the walk.
DWORD step_down(unique_handle& folder, const std::wstring& name)
{
    unique_handle below;
    const DWORD status = open_in_folder(folder.get(), name, entry_kind::folder, kWalkAccess, below);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND)
        return ERROR_PATH_NOT_FOUND;
    if (status == ERROR_INVALID_NAME || status == ERROR_DIRECTORY)
        return ERROR_BAD_PATHNAME;
    if (status != 0)
        return status;
    if (is_link(below.get()))
        return ERROR_BAD_PATHNAME;
    folder = std::move(below);
    return 0;
}

// AppData outside the profile folder, opened from its volume's root down without passing a link.
DWORD open_elsewhere(const std::wstring& appdata, unique_handle& folder)
{
    held_item held;
    const DWORD status = open_without_links(appdata, held);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND)
        return ERROR_PATH_NOT_FOUND;
    if (status == ERROR_REPARSE_ATTRIBUTE_CONFLICT)
        return ERROR_BAD_PATHNAME;
    if (status != 0)
        return status;
    if (held.listed & FILE_ATTRIBUTE_REPARSE_POINT)
        return ERROR_BAD_PATHNAME;
    folder = std::move(held.parent);
    return step_down(folder, held.name);
}

} // namespace

appdata_location user_appdata(const user_profile& profile, const user_hive* hive)
{
    appdata_location location;
    location.kind = appdata_kind::local;
    location.path = default_appdata(profile);
    if (hive == nullptr || hive->state() != hive_state::reachable)
        return location;
    std::wstring value;
    const LONG status = read_appdata_value(*hive, value);
    if (status == ERROR_FILE_NOT_FOUND)
        return location;
    if (status != ERROR_SUCCESS) {
        location.kind = appdata_kind::unresolved;
        location.path.clear();
        return location;
    }
    return checked_drive(resolve_appdata(value, profile.folder, windows_folder()));
}

std::wstring quick_launch_shortcut_path(const appdata_location& appdata)
{
    std::wstring path = appdata.path;
    for (const wchar_t* name : quick_launch_folders)
        path += std::wstring(L"\\") + name;
    return path + L"\\" + quick_launch_shortcut;
}

DWORD open_quick_launch_folder(const user_profile& profile, const appdata_location& appdata, unique_handle& folder)
{
    folder.reset();
    if (appdata.kind != appdata_kind::local)
        return ERROR_BAD_PATHNAME;
    unique_handle current;
    DWORD status = open_profile_folder(profile, current);
    if (status != 0)
        return status;
    std::vector<std::wstring> path;
    if (!below_profile(profile, appdata.path, path)) {
        status = open_elsewhere(appdata.path, current);
        if (status != 0)
            return status;
    }
    for (const wchar_t* name : quick_launch_folders)
        path.push_back(name);
    for (const std::wstring& name : path) {
        status = step_down(current, name);
        if (status != 0)
            return status;
    }
    folder = std::move(current);
    return 0;
}

} // namespace ferrolink
