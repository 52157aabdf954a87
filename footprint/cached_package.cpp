#include "footprint/cached_package.h"

#include "footprint/footprint.h"
#include "footprint/folder_entry.h"
#include "footprint/linkless_path.h"

#include <cwchar>

namespace ferrolink {

namespace {

using mcl::mswin::unique_handle;

const DWORD kValueBytes = 2048;

std::wstring system_windows_folder()
{
    wchar_t windows[MAX_PATH] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    return std::wstring(windows, length);
}

// The Installer folder of the system's Windows folder, opened as itself; empty when it is a link or missing.
unique_handle open_installer_folder()
{
    const std::wstring windows = system_windows_folder();
    if (windows.empty())
        return unique_handle();
    unique_handle folder(::CreateFileW((windows + installer_cache_folder).c_str(),
                                       FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (folder && is_link(folder.get()))
        folder.reset();
    return folder;
}

bool is_plain_file(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!::GetFileInformationByHandle(file, &information))
        return false;
    const DWORD not_plain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    return (information.dwFileAttributes & not_plain) == 0 && information.nNumberOfLinks == 1;
}

// The LocalPackage string of the HKLM key at `path`, opened as itself; empty when there is none.
std::wstring local_package_of(const std::wstring& path)
{
    wchar_t text[kValueBytes / sizeof(wchar_t) + 1] = {};
    DWORD size = kValueBytes;
    DWORD type = REG_NONE;
    mcl::mswin::unique_hkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, key.put()) !=
            ERROR_SUCCESS ||
        ::RegQueryValueExW(key.get(), local_package_value, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    // Stored text need not be terminated; the buffer keeps one terminator more than was read.
    return std::wstring(text, ::wcsnlen(text, size / sizeof(wchar_t)));
}

} // namespace

std::wstring registered_cached_package(const product_codes& codes)
{
    return registered_cached_package(machine_user_data_sid, codes);
}

std::wstring registered_cached_package(const std::wstring& sid, const product_codes& codes)
{
    return local_package_of(installer_user_data_key + sid + user_data_products + codes.packed +
                            install_properties_key);
}

std::wstring registered_patch_package(const std::wstring& sid, const std::wstring& packed_patch)
{
    return local_package_of(installer_user_data_key + sid + user_data_patches + packed_patch);
}

std::wstring product_installer_folder(const product_codes& codes)
{
    const std::wstring windows = system_windows_folder();
    return windows.empty() ? windows : windows + installer_cache_folder + L"\\" + codes.braced;
}

DWORD open_cached_package(const std::wstring& path, ACCESS_MASK access, unique_handle& file)
{
    file.reset();
    const size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos || separator == 0)
        return ERROR_BAD_PATHNAME;
    const unique_handle installer = open_installer_folder();
    unique_handle named_folder;
    if (!installer || open_folder_for_walk(path.substr(0, separator), named_folder) != 0 ||
        !same_object(installer.get(), named_folder.get()))
        return ERROR_BAD_PATHNAME;
    const DWORD opened = open_in_folder(installer.get(), path.substr(separator + 1), entry_kind::file,
                                        access | FILE_READ_ATTRIBUTES, file);
    if (opened == ERROR_INVALID_NAME)
        return ERROR_BAD_PATHNAME;
    if (opened == ERROR_PATH_NOT_FOUND)
        return ERROR_FILE_NOT_FOUND;
    if (opened != 0)
        return opened;
    if (!is_plain_file(file.get())) {
        file.reset();
        return ERROR_BAD_PATHNAME;
    }
    return 0;
}

} // namespace ferrolink
