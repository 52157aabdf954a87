#include "audit/check_support.h"

#include "footprint/registry_probe.h"
#include "footprint/pending_restart.h"
#include "mcl/mswin/unique_resource.h"

#include <vector>

namespace audit {

bool running_elevated()
{
    mcl::mswin::unique_handle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return ::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
           elevation.TokenIsElevated != 0;
}

audit_item present_item(const char* part, const std::string& name, const std::string& detail)
{
    audit_item item;
    item.part = part;
    item.name = name;
    item.state = item_state::present;
    item.detail = detail;
    return item;
}

audit_item absent_item(const char* part, const std::string& name, const std::string& detail)
{
    audit_item item = present_item(part, name, detail);
    item.state = item_state::absent;
    return item;
}

audit_item pending_restart_item(const char* part, const std::string& name, const std::string& detail)
{
    audit_item item = present_item(part, name, detail);
    item.state = item_state::pending_restart;
    item.counted = false;
    return item;
}

audit_item unchecked_item(const char* part, const std::string& name, DWORD error)
{
    audit_item item = present_item(part, name);
    item.state = item_state::unchecked;
    item.error = error;
    item.needs_admin = error == ERROR_ACCESS_DENIED && !running_elevated();
    return item;
}

const char* root_name(HKEY root)
{
    if (root == HKEY_CURRENT_USER)
        return "HKCU";
    if (root == HKEY_USERS)
        return "HKU";
    return root == HKEY_CLASSES_ROOT ? "HKCR" : "HKLM";
}

audit_item key_item(const char* part, const std::string& label, HKEY root, const std::wstring& path)
{
    mcl::mswin::unique_hkey key;
    const LONG status = ferrolink::open_key_as_itself(root, path, KEY_READ, key);
    if (status == ERROR_SUCCESS)
        return present_item(part, label);
    if (status == ERROR_FILE_NOT_FOUND)
        return absent_item(part, label);
    // The registry checks access on the key itself, after finding it: a refusal means it is there.
    if (status == ERROR_ACCESS_DENIED)
        return present_item(part, label, "not readable by this account");
    return unchecked_item(part, label, static_cast<DWORD>(status));
}

namespace {

// Whether `path` and, for a folder, everything below it are registered for deletion at restart: a folder goes
// then only if it is empty by then. A link is not looked into.
bool goes_at_restart(const std::wstring& path, const std::vector<std::wstring>& pending)
{
    if (!ferrolink::is_pending_deletion(path, pending))
        return false;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    WIN32_FIND_DATAW entry = {};
    const mcl::mswin::unique_hfind find(::FindFirstFileExW((path + L"\\*").c_str(), FindExInfoBasic, &entry,
                                                           FindExSearchNameMatch, nullptr, 0));
    if (!find)
        return false;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L".." && !goes_at_restart(path + L"\\" + name, pending))
            return false;
    } while (::FindNextFileW(find.get(), &entry));
    return ::GetLastError() == ERROR_NO_MORE_FILES;
}

} // namespace

audit_item path_item(const char* part, const std::string& label, const std::wstring& path)
{
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (goes_at_restart(path, ferrolink::paths_pending_deletion()))
            return pending_restart_item(part, label);
        return present_item(part, label);
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return absent_item(part, label);
    return unchecked_item(part, label, error);
}

} // namespace audit
