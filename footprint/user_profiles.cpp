#include "footprint/user_profiles.h"

#include "footprint/footprint.h"
#include "footprint/registry_probe.h"
#include "footprint/folder_entry.h"
#include "footprint/linkless_path.h"
#include "mcl/mswin/process_user.h"

#include <cwchar>

namespace ferrolink {

namespace {

using mcl::mswin::unique_handle;
using mcl::mswin::unique_hkey;

const DWORD kSidBuffer = 256;
// ProfileList holds one entry per account that ever logged on; this bounds a listing that keeps growing.
const DWORD kMostProfiles = 100000;
const ACCESS_MASK kWalkAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
// How long an unload is tried again while something still holds a key of the hive open.
const DWORD kUnloadRetryMs = 2000;
const DWORD kUnloadRetryStepMs = 100;

std::wstring running_account_sid()
{
    std::vector<unsigned char> sid = mcl::mswin::process_user_sid();
    return sid.empty() ? std::wstring() : mcl::mswin::sid_text(sid.data());
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

// The entry's "State" flags; 0 when it has none.
DWORD profile_state(HKEY list, const wchar_t* sid)
{
    DWORD state = 0;
    DWORD size = sizeof(state);
    if (::RegGetValueW(list, sid, profile_state_value, RRF_RT_REG_DWORD, nullptr, &state, &size) != ERROR_SUCCESS)
        return 0;
    return state;
}

// Whether the open file is one a hive may be loaded from: a plain file with this one name. A link would make the
// load read (and write) wherever it leads; a file with other names is also someone else's.
bool is_plain_file(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION information = {};
    return ::GetFileInformationByHandle(file, &information) &&
           !(information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
           information.nNumberOfLinks == 1;
}

// Whether the file at `path`, opened as itself, is still the one that was checked.
bool still_the_same_file(const std::wstring& path, HANDLE checked)
{
    const unique_handle now(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return now && is_plain_file(now.get()) && same_object(now.get(), checked);
}

} // namespace

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
        if (same_sid(name, self))
            continue;
        const profile_skip skip = profile_entry_skip(name, profile_state(list.get(), sid));
        const std::wstring folder =
            skip == profile_skip::none ? expanded_value(list.get(), sid, L"ProfileImagePath") : std::wstring();
        profiles.push_back({name, folder, skip});
    }
    return profiles;
}

user_hive::user_hive(const user_profile& profile, const std::wstring& temporary_name, bool flush) : flush_(flush)
{
    file_ = profile.folder + L"\\" + user_hive_file;
    if (hive_is_loaded(profile.sid)) {
        name_ = profile.sid;
        state_ = hive_state::reachable;
        return;
    }
    name_ = temporary_name;
    load(profile);
}

void user_hive::load(const user_profile& profile)
{
    unique_handle hive;
    if (!find_hive_file(profile, hive))
        return;
    // A name already taken is someone else's hive: never loaded over, never unloaded.
    if (hive_is_loaded(name_)) {
        state_ = hive_state::failed;
        error_ = ERROR_ALREADY_EXISTS;
        return;
    }
    load_file(hive.get());
}

bool user_hive::find_hive_file(const user_profile& profile, unique_handle& hive)
{
    unique_handle folder;
    error_ = profile.folder.empty() ? ERROR_PATH_NOT_FOUND : open_profile_folder(profile, folder);
    state_ = error_ == ERROR_PATH_NOT_FOUND ? hive_state::no_file
             : error_ == ERROR_BAD_PATHNAME ? hive_state::refused
                                            : hive_state::failed;
    if (error_ != 0)
        return false;
    error_ = open_in_folder(folder.get(), user_hive_file, entry_kind::file, FILE_READ_ATTRIBUTES, hive);
    if (error_ == ERROR_FILE_NOT_FOUND) {
        unique_handle mandatory;
        const bool is_mandatory =
            open_in_folder(folder.get(), mandatory_hive_file, entry_kind::file, FILE_READ_ATTRIBUTES, mandatory) == 0;
        state_ = is_mandatory ? hive_state::mandatory : hive_state::no_file;
        if (is_mandatory)
            file_ = profile.folder + L"\\" + mandatory_hive_file;
        return false;
    }
    if (error_ == 0 && !is_plain_file(hive.get()))
        state_ = hive_state::not_plain;
    return error_ == 0 && state_ != hive_state::not_plain;
}

void user_hive::load_file(HANDLE checked)
{
    {
        const hive_privileges privileges;
        error_ = static_cast<DWORD>(::RegLoadKeyW(HKEY_USERS, name_.c_str(), file_.c_str()));
        // Some implementations leave the name mounted, empty, after a failed load; it is ours to take away.
        if (error_ != 0 && hive_is_loaded(name_))
            ::RegUnLoadKeyW(HKEY_USERS, name_.c_str());
    }
    if (error_ != 0)
        return;
    loaded_here_ = true;
    // The load went by the file's name: swapped for a link or another file after the check, it is let go untouched.
    // Once loaded, the hive file is held without sharing, so its name cannot change again.
    if (!still_the_same_file(file_, checked)) {
        // Not the file that was checked: nothing is written into it, and a hive that will not go is reported.
        flush_ = false;
        const DWORD unloaded = unload();
        state_ = unloaded == 0 ? hive_state::not_plain : hive_state::failed;
        error_ = unloaded;
        return;
    }
    state_ = hive_state::reachable;
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
    if (flush_) {
        unique_hkey root;
        if (::RegOpenKeyExW(HKEY_USERS, name_.c_str(), 0, KEY_READ, root.put()) == ERROR_SUCCESS)
            ::RegFlushKey(root.get());
    }
    const hive_privileges privileges;
    DWORD error = static_cast<DWORD>(::RegUnLoadKeyW(HKEY_USERS, name_.c_str()));
    for (DWORD waited = 0; error != 0 && waited < kUnloadRetryMs && hive_is_loaded(name_);
         waited += kUnloadRetryStepMs) {
        ::Sleep(kUnloadRetryStepMs);
        error = static_cast<DWORD>(::RegUnLoadKeyW(HKEY_USERS, name_.c_str()));
    }
    // Still mounted: it stays ours, so that the destructor tries once more.
    if (error != 0 && hive_is_loaded(name_))
        loaded_here_ = true;
    return error;
}

std::vector<std::wstring> loaded_hives_named(const std::wstring& prefix)
{
    std::vector<std::wstring> names;
    wchar_t name[256] = {};
    for (DWORD index = 0; index < kMostProfiles; ++index) {
        DWORD length = static_cast<DWORD>(std::size(name));
        const LONG status = ::RegEnumKeyExW(HKEY_USERS, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        const int compared = static_cast<int>(prefix.size());
        if (length >= prefix.size() &&
            ::CompareStringOrdinal(name, compared, prefix.c_str(), compared, TRUE) == CSTR_EQUAL)
            names.emplace_back(name, length);
    }
    return names;
}

DWORD unload_hive(const std::wstring& name)
{
    const hive_privileges privileges;
    return static_cast<DWORD>(::RegUnLoadKeyW(HKEY_USERS, name.c_str()));
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
            return kLinkOnTheWay;
        current = std::move(next);
        above = current.get();
    }
    parent = std::move(current);
    return ERROR_SUCCESS;
}

} // namespace ferrolink
