#include "shortcuts.h"

#include "common.h"
#include "mcl/mswin/unique_resource.h"

#include <objbase.h>
#include <shlobj.h>

namespace fake_client {

namespace {

using mcl::mswin::unique_com;
using mcl::mswin::unique_hfind;

// COM for the calling thread, for as long as the object lives.
class com_apartment {
public:
    com_apartment() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~com_apartment()
    {
        if (SUCCEEDED(result_))
            ::CoUninitialize();
    }
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;

private:
    HRESULT result_;
};

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD code_of(HRESULT result)
{
    return HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : static_cast<DWORD>(result);
}

DWORD delete_file(const std::wstring& path)
{
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (::DeleteFileW(path.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND ||
        ::GetLastError() == ERROR_PATH_NOT_FOUND)
        return 0;
    return ::GetLastError();
}

void delete_files_in(const std::wstring& group)
{
    WIN32_FIND_DATAW entry;
    const unique_hfind search(::FindFirstFileW((group + L"\\*").c_str(), &entry));
    if (!search)
        return;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            delete_file(group + L"\\" + entry.cFileName);
    } while (::FindNextFileW(search.get(), &entry));
}

DWORD delete_group(const std::wstring& group)
{
    delete_files_in(group);
    if (::RemoveDirectoryW(group.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND ||
        ::GetLastError() == ERROR_PATH_NOT_FOUND)
        return 0;
    return ::GetLastError();
}

} // namespace

shortcut_paths client_shortcut_paths()
{
    shortcut_paths paths;
    paths.program_group = shell_folder(CSIDL_COMMON_PROGRAMS) + L"\\Orvane Ferrolink";
    paths.start_menu = shell_folder(CSIDL_COMMON_STARTMENU) + L"\\Orvane Ferrolink.lnk";
    paths.quick_launch =
        shell_folder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch\\Orvane Ferrolink.lnk";
    paths.desktop = shell_folder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Orvane Ferrolink.lnk";
    return paths;
}

DWORD make_shortcut(const std::wstring& path, const std::wstring& target)
{
    const com_apartment apartment;
    unique_com<IShellLinkW> link;
    HRESULT result = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                        reinterpret_cast<void**>(link.put()));
    if (FAILED(result))
        return code_of(result);
    link.get()->SetPath(target.c_str());
    link.get()->SetDescription(L"Orvane Ferrolink SSL-VPN");
    unique_com<IPersistFile> file;
    result = link.get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()));
    if (SUCCEEDED(result))
        result = file.get()->Save(path.c_str(), TRUE);
    return FAILED(result) ? code_of(result) : 0;
}

DWORD make_shortcuts(const std::wstring& target)
{
    const shortcut_paths paths = client_shortcut_paths();
    DWORD error = create_folders(paths.program_group);
    if (error == 0)
        error = make_shortcut(paths.program_group + L"\\Orvane Ferrolink.lnk", target);
    if (error == 0)
        error = make_shortcut(paths.program_group + L"\\Uninstall Orvane Ferrolink.lnk", target);
    if (error == 0)
        error = make_shortcut(paths.start_menu, target);
    const std::wstring quick_launch_folder = paths.quick_launch.substr(0, paths.quick_launch.find_last_of(L'\\'));
    if (error == 0 && exists(quick_launch_folder))
        error = make_shortcut(paths.quick_launch, target);
    if (error == 0)
        error = make_shortcut(paths.desktop, target);
    return error;
}

std::vector<std::wstring> existing_shortcuts()
{
    const shortcut_paths paths = client_shortcut_paths();
    std::vector<std::wstring> found;
    for (const std::wstring* path : {&paths.program_group, &paths.start_menu, &paths.quick_launch, &paths.desktop}) {
        if (exists(*path))
            found.push_back(*path);
    }
    return found;
}

DWORD remove_shortcuts()
{
    const shortcut_paths paths = client_shortcut_paths();
    DWORD first_error = delete_group(paths.program_group);
    for (const std::wstring* path : {&paths.start_menu, &paths.quick_launch, &paths.desktop}) {
        const DWORD error = delete_file(*path);
        if (first_error == 0)
            first_error = error;
    }
    return first_error;
}

} // namespace fake_client
