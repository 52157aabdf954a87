#include "install_folder.h"

#include "common.h"
#include "mcl/mswin/unique_resource.h"

#include <shlobj.h>

namespace fake_client {

namespace {

using mcl::mswin::unique_hkey;

const wchar_t kInstallKey[] = L"Software\\Orvane\\SSL-VPN Ferrolink\\Standalone";
const wchar_t* const kInstallKeyChain[] = {L"Software\\Orvane\\SSL-VPN Ferrolink\\Standalone",
                                           L"Software\\Orvane\\SSL-VPN Ferrolink", L"Software\\Orvane"};
const REGSAM kView = KEY_WOW64_64KEY;

struct file_entry {
    const wchar_t* path;
    DWORD attributes;
};

const wchar_t* const kFolders[] = {L"bin", L"bin\\drivers", L"logs", L"lang"};
const file_entry kFiles[] = {
    {L"FLConfig.ini", FILE_ATTRIBUTE_NORMAL},
    {L"uninstall.dat", FILE_ATTRIBUTE_READONLY},
    {L"bin\\FLService.dll", FILE_ATTRIBUTE_NORMAL},
    {L"bin\\drivers\\orvanefldrv.sys", FILE_ATTRIBUTE_READONLY},
    {L"bin\\drivers\\orvanefldrv.inf", FILE_ATTRIBUTE_NORMAL},
    {L"logs\\Ferrolink.log", FILE_ATTRIBUTE_HIDDEN},
};

DWORD make_file(const std::wstring& path, DWORD attributes)
{
    const mcl::mswin::unique_handle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return ::GetLastError();
    const char content[] = "Ferrolink footprint\r\n";
    DWORD written = 0;
    if (!::WriteFile(file.get(), content, sizeof(content) - 1, &written, nullptr))
        return ::GetLastError();
    return ::SetFileAttributesW(path.c_str(), attributes) ? 0 : ::GetLastError();
}

std::vector<std::wstring> children_of(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    const mcl::mswin::unique_hfind search(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!search)
        return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (::FindNextFileW(search.get(), &entry));
    return names;
}

void list_into(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>& paths)
{
    WIN32_FIND_DATAW entry;
    const std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    const mcl::mswin::unique_hfind search(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!search)
        return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
        const bool is_folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        paths.push_back(is_folder ? path + L"\\" : path);
        if (is_folder && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            list_into(root, path, paths);
    } while (::FindNextFileW(search.get(), &entry));
}

bool is_empty_key(const wchar_t* path)
{
    unique_hkey key;
    DWORD subkeys = 0;
    DWORD values = 0;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | kView, key.put()) == ERROR_SUCCESS &&
           ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                              nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

} // namespace

std::wstring default_install_folder()
{
    return shell_folder(CSIDL_PROGRAM_FILESX86) + L"\\Orvane\\SSL-VPN\\Ferrolink";
}

DWORD make_install_tree(const std::wstring& folder)
{
    DWORD error = create_folders(folder);
    for (const wchar_t* sub : kFolders) {
        if (error == 0)
            error = create_folders(folder + L"\\" + sub);
    }
    for (const file_entry& file : kFiles) {
        if (error == 0)
            error = make_file(folder + L"\\" + file.path, file.attributes);
    }
    return error;
}

DWORD remove_install_tree(const std::wstring& folder)
{
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0;
    ::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ::DeleteFileW(folder.c_str()) ? 0 : ::GetLastError();
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        for (const std::wstring& name : children_of(folder))
            remove_install_tree(folder + L"\\" + name);
    }
    return ::RemoveDirectoryW(folder.c_str()) ? 0 : ::GetLastError();
}

std::vector<std::wstring> list_tree(const std::wstring& folder)
{
    std::vector<std::wstring> paths;
    list_into(folder, std::wstring(), paths);
    return paths;
}

DWORD set_install_dir_value(DWORD type, const void* data, DWORD size)
{
    unique_hkey key;
    LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, nullptr, 0, KEY_SET_VALUE | kView,
                                       nullptr, key.put(), nullptr);
    if (status == ERROR_SUCCESS)
        status = ::RegSetValueExW(key.get(), L"InstallDir", 0, type, static_cast<const BYTE*>(data), size);
    return static_cast<DWORD>(status);
}

DWORD register_install_dir(const std::wstring& folder)
{
    return set_install_dir_value(REG_SZ, folder.c_str(), static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}

DWORD unregister_install_dir()
{
    unique_hkey key;
    LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_SET_VALUE | kView, key.put());
    if (status == ERROR_FILE_NOT_FOUND)
        return 0;
    if (status == ERROR_SUCCESS)
        status = ::RegDeleteValueW(key.get(), L"InstallDir");
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        return static_cast<DWORD>(status);
    key.reset();
    // Only keys left empty go: other parts of the footprint may keep values there.
    for (const wchar_t* path : kInstallKeyChain) {
        if (!is_empty_key(path) || ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, kView, 0) != ERROR_SUCCESS)
            break;
    }
    return 0;
}

std::wstring registered_install_dir()
{
    unique_hkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_QUERY_VALUE | kView, key.put()) != ERROR_SUCCESS)
        return std::wstring();
    wchar_t value[1024] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegQueryValueExW(key.get(), L"InstallDir", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    return value;
}

} // namespace fake_client
