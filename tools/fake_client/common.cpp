#include "common.h"

#include <shlobj.h>

namespace fake_client {

std::wstring program_folder()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

std::string to_narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), size, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), size, &result[0], bytes, nullptr, nullptr);
    return result;
}

std::wstring to_wide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int size = static_cast<int>(text.size());
    const int units = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), size, nullptr, 0);
    std::wstring result(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), size, &result[0], units);
    return result;
}

std::wstring shell_folder(int csidl)
{
    wchar_t folder[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, folder, csidl, FALSE))
        return std::wstring();
    return folder;
}

DWORD create_folders(const std::wstring& folder)
{
    if (::CreateDirectoryW(folder.c_str(), nullptr))
        return 0;
    DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS)
        return 0;
    if (error != ERROR_PATH_NOT_FOUND)
        return error;
    const size_t parent_end = folder.find_last_of(L'\\');
    if (parent_end == std::wstring::npos || parent_end == 0)
        return error;
    error = create_folders(folder.substr(0, parent_end));
    if (error != 0)
        return error;
    return ::CreateDirectoryW(folder.c_str(), nullptr) ? 0 : ::GetLastError();
}

} // namespace fake_client
