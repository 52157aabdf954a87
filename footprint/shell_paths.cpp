#include "footprint/shell_paths.h"

#include <shlobj.h>

namespace ferrolink {

DWORD join_within_max_path(const std::wstring& folder, const wchar_t* suffix, std::wstring& path)
{
    path = folder + suffix;
    return path.size() < MAX_PATH ? 0 : ERROR_FILENAME_EXCED_RANGE;
}

DWORD path_in_shell_folder(int csidl, const wchar_t* suffix, std::wstring& path)
{
    wchar_t folder[MAX_PATH] = {};
    // Without the folder the path would silently point at the root of the current drive.
    if (!::SHGetSpecialFolderPathW(nullptr, folder, csidl, FALSE) || folder[0] == L'\0') {
        path = suffix;
        return ERROR_PATH_NOT_FOUND;
    }
    return join_within_max_path(folder, suffix, path);
}

} // namespace ferrolink
