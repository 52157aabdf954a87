#include "cleaner/mechanisms/registry_tree.h"

#include "cleaner/mechanisms/registry_key.h"
#include "cleaner/run_log.h"
#include "footprint/footprint.h"
#include "footprint/registry_probe.h"
#include "mcl/mswin/unique_resource.h"

#include <cwchar>

namespace cleaner {

using mcl::mswin::unique_hkey;

namespace {

const DWORD kSubkeyNameBuffer = 260;
const wchar_t kProfiles[] = L"Profiles";
const wchar_t kStandalone[] = L"Standalone";

std::wstring child_path(const std::wstring& path, const wchar_t* name)
{
    std::wstring child = path;
    if (child.back() != L'\\')
        child += L'\\';
    return child + name;
}

// What one deletion carries down the tree.
struct deletion {
    bool keep_profiles;
    deletion_bound* bound;
};

int delete_key(HKEY parent, const std::wstring& name, const std::wstring& path, const deletion& how);
int delete_child(HKEY key, const std::wstring& name, const std::wstring& path, const deletion& how);

bool out_of_bound(const deletion& how)
{
    return how.bound != nullptr && how.bound->reached();
}

// A subkey listed again right after it was deleted. The merged classes view shows the machine's key once the
// user's key of that name is gone, and that one is deleted as well. Only a subkey that cannot even be opened
// (nothing there to delete) is passed over; a bound keeps a listing that never changes from holding the pass.
const int kRelistedAttempts = 4;

bool still_there(HKEY key, const std::wstring& name)
{
    unique_hkey child;
    return ferrolink::open_key_as_itself(key, name, KEY_QUERY_VALUE, child) != ERROR_FILE_NOT_FOUND;
}

// Deletes the subkeys of the open `key` (at `path`) one by one. A deleted subkey makes the next one move into its
// index, so the index advances only past subkeys that stay. Each subkey is opened below `key` itself, so that
// nothing replaced on the way can lead the deleter elsewhere.
void delete_subkeys(HKEY key, const std::wstring& path, const deletion& how)
{
    const bool keep_profiles = how.keep_profiles;
    DWORD index = 0;
    std::wstring last_deleted;
    int relisted = 0;
    for (;;) {
        wchar_t name[kSubkeyNameBuffer] = {};
        DWORD length = kSubkeyNameBuffer;
        if (::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        if (last_deleted == name && (++relisted >= kRelistedAttempts || !still_there(key, name))) {
            ++index;
            continue;
        }
        if (last_deleted != name)
            relisted = 0;
        if (keep_profiles && std::wcscmp(name, kProfiles) == 0) {
            ++index;
            continue;
        }
        if (delete_child(key, name, path, how)) {
            last_deleted = name;
            continue;
        }
        if (out_of_bound(how))
            return;
        if (keep_profiles && std::wcscmp(name, kStandalone) == 0) {
            ++index;
            continue;
        }
        return;
    }
}

// The client's product key in either view: with keep-profiles, it stays with the kept profiles unreported.
bool is_product_key(const std::wstring& path)
{
    return path == ferrolink::client_keys[0].path || path == ferrolink::product_key_32;
}

// Refuses what the deleter must never touch: an empty path would name the root itself.
DWORD check_path(const std::wstring& path)
{
    if (path.empty())
        return ERROR_INVALID_PARAMETER;
    if (path.size() >= kKeyPathBuffer)
        return ERROR_FILENAME_EXCED_RANGE;
    return ERROR_SUCCESS;
}

} // namespace

void log_delete_failure(const std::wstring& path, DWORD error)
{
    // Registry functions return their error instead of setting the thread's, so it is set here to match (after the
    // line, which may change it).
    log_line("\tFail to delete reg key [%s], lastError:%lu", wide_to_utf8(path).c_str(), error);
    ::SetLastError(error);
}

int delete_registry_tree(HKEY root, const std::wstring& path, bool keep_profiles)
{
    const DWORD refused = check_path(path);
    if (refused != ERROR_SUCCESS) {
        log_delete_failure(path, refused);
        return 0;
    }
    return delete_key(root, path, path, {keep_profiles, nullptr});
}

deletion_bound::deletion_bound(unsigned long keys, DWORD milliseconds)
    : keys_(keys), deadline_(::GetTickCount64() + milliseconds)
{
}

bool deletion_bound::take()
{
    if (!reached_ && (taken_ >= keys_ || ::GetTickCount64() >= deadline_))
        reached_ = true;
    if (reached_)
        return false;
    ++taken_;
    return true;
}

int delete_registry_subtree(HKEY parent, const std::wstring& name, const std::wstring& logged_path, bool keep_profiles,
                            deletion_bound* bound)
{
    const DWORD refused = check_path(name) != ERROR_SUCCESS ? check_path(name) : check_path(logged_path);
    if (refused != ERROR_SUCCESS) {
        log_delete_failure(logged_path, refused);
        return 0;
    }
    return delete_key(parent, name, logged_path, {keep_profiles, bound});
}

namespace {

int delete_child(HKEY key, const std::wstring& name, const std::wstring& path, const deletion& how)
{
    const std::wstring child = child_path(path, name.c_str());
    const DWORD refused = check_path(child);
    if (refused != ERROR_SUCCESS) {
        log_delete_failure(child, refused);
        return 0;
    }
    return delete_key(key, name, child, how);
}

// Deletes `name` below `parent`, known in the log as `path`. A link has no subkeys of its own, so it goes at
// the first attempt, as the link.
int delete_key(HKEY parent, const std::wstring& name, const std::wstring& path, const deletion& how)
{
    if (how.bound != nullptr && !how.bound->take()) {
        ::SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return 0;
    }
    if (delete_key_itself(parent, name) == ERROR_SUCCESS)
        return 1;
    {
        unique_hkey key;
        const LONG opened = ferrolink::open_key_as_itself(parent, name, KEY_READ, key);
        if (opened == ERROR_FILE_NOT_FOUND) {
            log_line("\tRegOpenKeyEx, Key [%s] uninstalled succeed.", wide_to_utf8(path).c_str());
            return 1;
        }
        if (opened != ERROR_SUCCESS) {
            log_line("\tRegOpenKeyEx,failed to open the key.");
            ::SetLastError(static_cast<DWORD>(opened));
            return 0;
        }
        delete_subkeys(key.get(), path, how);
    }
    if (out_of_bound(how)) {
        ::SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return 0;
    }
    const LONG deleted = delete_key_itself(parent, name);
    if (deleted == ERROR_SUCCESS)
        return 1;
    if (how.keep_profiles && is_product_key(path))
        return 1;
    log_delete_failure(path, static_cast<DWORD>(deleted));
    return 0;
}

} // namespace

} // namespace cleaner
