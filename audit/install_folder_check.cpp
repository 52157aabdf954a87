#include "audit/check_support.h"
#include "audit/checks.h"
#include "cleaner/footprint.h"
#include "mcl/mswin/unique_resource.h"

#include <shlobj.h>

namespace audit {

namespace {

const char kPart[] = "install folder";
const DWORD kInstallDirBytes = 1024;

// The registered value, read wide as stored; its text when it is a string, empty otherwise.
audit_item install_dir_item(std::wstring& folder)
{
    const std::string label = "InstallDir in HKLM\\" + utf8(cleaner::footprint::install_key);
    mcl::mswin::unique_hkey key;
    LONG status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, cleaner::footprint::install_key, 0,
                                  KEY_READ | KEY_WOW64_64KEY, key.put());
    if (status == ERROR_FILE_NOT_FOUND)
        return absent_item(kPart, label);
    if (status != ERROR_SUCCESS)
        return unchecked_item(kPart, label, static_cast<DWORD>(status));
    wchar_t value[kInstallDirBytes / sizeof(wchar_t) + 1] = {};
    DWORD size = kInstallDirBytes;
    DWORD type = 0;
    status = ::RegQueryValueExW(key.get(), cleaner::footprint::install_dir_value, nullptr, &type,
                                reinterpret_cast<BYTE*>(value), &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return absent_item(kPart, label);
    if (status == ERROR_MORE_DATA)
        return present_item(kPart, label, "longer than the cleaner reads");
    if (status != ERROR_SUCCESS)
        return unchecked_item(kPart, label, static_cast<DWORD>(status));
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return present_item(kPart, label, "not text");
    folder = value;
    return present_item(kPart, label, utf8(folder));
}

// Only a local absolute folder is looked at: a registered share name would send this read-only check out on
// the network, and stream or device syntax could name something that is no folder.
bool local_absolute_folder(const std::wstring& folder)
{
    if (folder.size() < 4 || folder.size() >= MAX_PATH)
        return false;
    const wchar_t drive = folder[0];
    const bool letter = (drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z');
    return letter && folder[1] == L':' && folder[2] == L'\\' && folder.find(L':', 2) == std::wstring::npos &&
           folder.find(L'/') == std::wstring::npos;
}

audit_item registered_folder_item(const std::wstring& folder)
{
    const std::string label = "registered folder " + utf8(folder);
    if (!local_absolute_folder(folder))
        return unchecked_item(kPart, label, ERROR_BAD_PATHNAME);
    return path_item(kPart, label, folder);
}

audit_item default_folder_item()
{
    wchar_t programs[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, programs, cleaner::footprint::default_install_csidl, FALSE) ||
        programs[0] == L'\0')
        return unchecked_item(kPart, "default folder", ERROR_PATH_NOT_FOUND);
    const std::wstring folder = std::wstring(programs) + cleaner::footprint::default_install_suffix;
    return path_item(kPart, "default folder " + utf8(folder), folder);
}

} // namespace

audit_item check_folder(const std::wstring& folder)
{
    if (!local_absolute_folder(folder))
        return unchecked_item(kPart, "folder " + utf8(folder), ERROR_BAD_PATHNAME);
    return path_item(kPart, "folder " + utf8(folder), folder);
}

audit_items check_install_folder()
{
    std::wstring registered;
    audit_items items = {install_dir_item(registered)};
    // The value sits in a key on the profiles' path, which an unattended run keeps whole.
    audit_item& install_dir = items.front();
    if (install_dir.state == item_state::present && only_saved_profiles_left()) {
        install_dir.detail += (install_dir.detail.empty() ? "" : ", ") + std::string("kept with the saved profiles");
        install_dir.counted = false;
    }
    if (!registered.empty())
        items.push_back(registered_folder_item(registered));
    items.push_back(default_folder_item());
    return items;
}

} // namespace audit
