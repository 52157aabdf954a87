#include "cleaner/registry_tree.h"

#include "cleaner/run_log.h"
#include "mcl/mswin/unique_resource.h"

#include <cwchar>

namespace cleaner {

using mcl::mswin::unique_hkey;

namespace {

const DWORD kSubkeyNameBuffer = 260;
const wchar_t kProductKey[] = L"Software\\Orvane\\SSL-VPN Ferrolink";
const wchar_t kProfiles[] = L"Profiles";
const wchar_t kStandalone[] = L"Standalone";

std::wstring child_path(const std::wstring& path, const wchar_t* name)
{
    std::wstring child = path;
    if (child.back() != L'\\')
        child += L'\\';
    return child + name;
}

// Deletes the subkeys of the open `key` (at `path`) one by one. A deleted subkey makes the next one move into its
// index, so the index advances only past subkeys that stay.
void delete_subkeys(HKEY root, HKEY key, const std::wstring& path, bool keep_profiles)
{
    DWORD index = 0;
    std::wstring last_deleted;
    for (;;) {
        wchar_t name[kSubkeyNameBuffer] = {};
        DWORD length = kSubkeyNameBuffer;
        if (::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        // A subkey reported gone that is still listed (a link whose target is missing) would be met forever.
        if (last_deleted == name) {
            ++index;
            continue;
        }
        if (keep_profiles && std::wcscmp(name, kProfiles) == 0) {
            ++index;
            continue;
        }
        if (delete_registry_tree(root, child_path(path, name), keep_profiles)) {
            last_deleted = name;
            continue;
        }
        if (keep_profiles && std::wcscmp(name, kStandalone) == 0) {
            ++index;
            continue;
        }
        return;
    }
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
    // Registry functions return their error instead of setting the thread's, so it is set here to match.
    ::SetLastError(error);
    log_line("\tFail to delete reg key [%s], lastError:%lu", to_utf8(path.c_str()).c_str(), error);
}

int delete_registry_tree(HKEY root, const std::wstring& path, bool keep_profiles)
{
    const DWORD refused = check_path(path);
    if (refused != ERROR_SUCCESS) {
        log_delete_failure(path, refused);
        return 0;
    }
    if (::RegDeleteKeyW(root, path.c_str()) == ERROR_SUCCESS)
        return 1;
    {
        unique_hkey key;
        const LONG opened = ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put());
        if (opened == ERROR_FILE_NOT_FOUND) {
            log_line("\tRegOpenKeyEx, Key [%s] uninstalled succeed.", to_utf8(path.c_str()).c_str());
            return 1;
        }
        if (opened != ERROR_SUCCESS) {
            log_line("\tRegOpenKeyEx,failed to open the key.");
            return 0;
        }
        delete_subkeys(root, key.get(), path, keep_profiles);
    }
    const LONG deleted = ::RegDeleteKeyW(root, path.c_str());
    if (deleted == ERROR_SUCCESS)
        return 1;
    if (keep_profiles && path == kProductKey)
        return 1;
    log_delete_failure(path, static_cast<DWORD>(deleted));
    return 0;
}

} // namespace cleaner
