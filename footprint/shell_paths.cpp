#include "footprint/shell_paths.h"

#include <shlobj.h>

namespace ferrolink {

std::wstring shell_folder(int csidl)
{
    wchar_t folder[MAX_PATH] = {};
    return ::SHGetSpecialFolderPathW(nullptr, folder, csidl, FALSE) ? folder : L"";
}

DWORD join_within_max_path(const std::wstring& folder, const wchar_t* suffix, std::wstring& path)
{
    path = folder + suffix;
    return path.size() < MAX_PATH ? 0 : ERROR_FILENAME_EXCED_RANGE;
}

DWORD path_in_shell_folder(int csidl, const wchar_t* suffix, std::wstring& path)
{
    const std::wstring folder = shell_folder(csidl);
    // Without the folder the path would silently point at the root of the current drive.
    if (folder.empty()) {
        path = suffix;
        return ERROR_PATH_NOT_FOUND;
    }
    return join_within_max_path(folder, suffix, path);
}

} // namespace ferrolink
