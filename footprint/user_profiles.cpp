#include "footprint/user_profiles.h"

#include "footprint/footprint.h"
#include "footprint/registry_probe.h"
#include "footprint/folder_entry.h"
#include "footprint/linkless_path.h"

#include <sddl.h>

#include <cwchar>

namespace ferrolink {

namespace {

using mcl::mswin::unique_handle;
using mcl::mswin::unique_hkey;

const DWORD kSidBuffer = 256;
// ProfileList holds one entry per account that ever logged on; this bounds a listing that keeps growing.
const DWORD kMostProfiles = 100000;
const ACCESS_MASK kWalkAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;

bool is_user_sid(const std::wstring& sid)
{
    const size_t prefix = std::wcslen(user_sid_prefix);
    if (sid.size() <= prefix || sid.compare(0, prefix, user_sid_prefix) != 0 || sid.back() == L'-')
        return false;
    for (size_t i = prefix; i < sid.size(); ++i) {
        const bool digit = sid[i] >= L'0' && sid[i] <= L'9';
        if (!digit && (sid[i] != L'-' || sid[i - 1] == L'-'))
            return false;
    }
    return true;
}

std::wstring running_account_sid()
{
    unique_handle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return std::wstring();
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size))
        return std::wstring();
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text))
        return std::wstring();
    const mcl::mswin::unique_hlocal owner(text);
    return text;
}

bool same_sid(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

bool hive_is_loaded(const std::wstring& sid)
{
    unique_hkey key;
    const LONG status = ::RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, KEY_QUERY_VALUE, key.put());
    return status == ERROR_SUCCESS || status == ERROR_ACCESS_DENIED;
}

// Backup and restore privileges enabled for the life of the object, then put back as they were: left on, they
// would let every later open with backup semantics pass over the files' access lists.
class hive_privileges {
public:
    hive_privileges()
    {
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token_.put()))
            return;
        struct {
            DWORD count;
            LUID_AND_ATTRIBUTES privileges[2];
        } wanted = {2, {}};
        if (!::LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &wanted.privileges[0].Luid) ||
            !::LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &wanted.privileges[1].Luid))
            return;
        wanted.privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        wanted.privileges[1].Attributes = SE_PRIVILEGE_ENABLED;
        DWORD size = sizeof(previous_);
        adjusted_ = ::AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted),
                                            sizeof(previous_), reinterpret_cast<TOKEN_PRIVILEGES*>(&previous_),
                                            &size) != FALSE;
    }
    ~hive_privileges()
    {
        if (adjusted_)
            ::AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&previous_), 0,
                                    nullptr, nullptr);
    }
    hive_privileges(const hive_privileges&) = delete;
    hive_privileges& operator=(const hive_privileges&) = delete;

private:
    unique_handle token_;
    struct {
        DWORD count;
        LUID_AND_ATTRIBUTES privileges[2];
    } previous_ = {0, {}};
    bool adjusted_ = false;
};

bool is_drive_path(const std::wstring& path)
{
    const wchar_t letter = path.size() >= 3 ? path[0] : L'\0';
    const bool is_letter = (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
    return is_letter && path[1] == L':' && path[2] == L'\\' && path.find(L':', 2) == std::wstring::npos;
}

// The absolute form Windows resolves the path to, without trailing backslashes; empty when it has none.
std::wstring full_path(const std::wstring& path)
{
    wchar_t full[MAX_PATH] = {};
    const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    std::wstring text(full, length);
    while (!text.empty() && text.back() == L'\\')
        text.pop_back();
    return text;
}

// The profile folder, opened as itself inside the profiles root; ERROR_BAD_PATHNAME when it is anywhere else or
// a link.
DWORD open_profile_folder(const user_profile& profile, unique_handle& folder)
{
    const std::wstring root_path = expanded_value(HKEY_LOCAL_MACHINE, profile_list_key, L"ProfilesDirectory");
    const std::wstring profile_path = full_path(profile.folder);
    const size_t separator = profile_path.find_last_of(L'\\');
    if (root_path.empty() || !is_drive_path(profile_path + L"\\") || separator == std::wstring::npos)
        return ERROR_BAD_PATHNAME;
    unique_handle root;
    unique_handle parent;
    if (open_folder_for_walk(root_path, root) != 0 ||
        open_folder_for_walk(profile_path.substr(0, separator + 1), parent) != 0 ||
        !same_object(root.get(), parent.get()))
        return ERROR_BAD_PATHNAME;
    const DWORD opened =
        open_in_folder(root.get(), profile_path.substr(separator + 1), entry_kind::folder, kWalkAccess, folder);
    if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND)
        return ERROR_PATH_NOT_FOUND;
    if (opened == ERROR_INVALID_NAME || opened == ERROR_DIRECTORY)
        return ERROR_BAD_PATHNAME;
    if (opened == 0 && is_link(folder.get())) {
        folder.reset();
        return ERROR_BAD_PATHNAME;
    }
    return opened;
}

} // namespace

std::vector<user_profile> other_user_profiles()
{
    std::vector<user_profile> profiles;
    unique_hkey list;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, profile_list_key, 0, KEY_READ, list.put()) != ERROR_SUCCESS)
        return profiles;
    const std::wstring self = running_account_sid();
    for (DWORD index = 0; index < kMostProfiles; ++index) {
        wchar_t sid[kSidBuffer] = {};
        DWORD length = kSidBuffer;
        const LONG status = ::RegEnumKeyExW(list.get(), index, sid, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            return profiles;
        const std::wstring name(sid, length);
        if (is_user_sid(name) && !same_sid(name, self))
            profiles.push_back({name, expanded_value(list.get(), sid, L"ProfileImagePath")});
    }
    return profiles;
}

std::wstring hive_file(const user_profile& profile)
{
    return profile.folder + L"\\" + user_hive_file;
}

user_hive::user_hive(const user_profile& profile, const std::wstring& temporary_name)
{
    file_ = hive_file(profile);
    if (hive_is_loaded(profile.sid)) {
        name_ = profile.sid;
        return;
    }
    name_ = temporary_name;
    if (profile.folder.empty()) {
        error_ = ERROR_FILE_NOT_FOUND;
        return;
    }
    // A name already taken is someone else's hive: never loaded over, never unloaded.
    if (hive_is_loaded(name_)) {
        error_ = ERROR_ALREADY_EXISTS;
        return;
    }
    const hive_privileges privileges;
    error_ = static_cast<DWORD>(::RegLoadKeyW(HKEY_USERS, name_.c_str(), file_.c_str()));
    loaded_here_ = error_ == 0;
    // Some implementations leave the name mounted, empty, after a failed load; it is ours to take away.
    if (error_ != 0 && hive_is_loaded(name_))
        ::RegUnLoadKeyW(HKEY_USERS, name_.c_str());
}

user_hive::~user_hive()
{
    unload();
}

DWORD user_hive::unload()
{
    if (!loaded_here_)
        return 0;
    loaded_here_ = false;
    const hive_privileges privileges;
    return static_cast<DWORD>(::RegUnLoadKeyW(HKEY_USERS, name_.c_str()));
}

LONG open_user_key_parent(const user_hive& hive, REGSAM access, unique_hkey& parent)
{
    unique_hkey current;
    const LONG root = ::RegOpenKeyExW(HKEY_USERS, hive.name().c_str(), 0, access | KEY_QUERY_VALUE, current.put());
    if (root != ERROR_SUCCESS)
        return root;
    HKEY above = current.get();
    for (const wchar_t* name : user_key_parents) {
        unique_hkey next;
        const LONG opened = open_key_as_itself(above, name, access | KEY_QUERY_VALUE, next);
        if (opened != ERROR_SUCCESS)
            return opened;
        if (is_registry_link(next.get()))
            return ERROR_FILE_NOT_FOUND;
        current = std::move(next);
        above = current.get();
    }
    parent = std::move(current);
    return ERROR_SUCCESS;
}

DWORD open_quick_launch_folder(const user_profile& profile, unique_handle& folder)
{
    DWORD status = open_profile_folder(profile, folder);
    for (const wchar_t* name : quick_launch_folders) {
        if (status != 0)
            return status;
        unique_handle below;
        status = open_in_folder(folder.get(), name, entry_kind::folder, kWalkAccess, below);
        if (status == ERROR_FILE_NOT_FOUND)
            status = ERROR_PATH_NOT_FOUND;
        else if (status == 0 && is_link(below.get()))
            status = ERROR_BAD_PATHNAME;
        folder = std::move(below);
    }
    if (status != 0)
        folder.reset();
    return status;
}

std::wstring quick_launch_shortcut_path(const user_profile& profile)
{
    std::wstring path = profile.folder;
    for (const wchar_t* name : quick_launch_folders)
        path += std::wstring(L"\\") + name;
    return path + L"\\" + quick_launch_shortcut;
}

} // namespace ferrolink
