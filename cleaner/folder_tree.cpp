#include "cleaner/folder_tree.h"

#include "cleaner/run_log.h"
#include "mcl/mswin/unique_resource.h"

#include <cstring>
#include <string>

namespace cleaner {

namespace {

DWORD delete_tree(const std::string& path);

// The search could not start because there is nothing there; any other reason is a real failure
// (the folder may well exist).
bool is_missing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES;
}

DWORD finish_line(BOOL done)
{
    const DWORD error = done ? 0 : ::GetLastError();
    log_line(done ? "succeed" : "failed");
    return error;
}

DWORD delete_file(const std::string& path)
{
    if (!::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL))
        return ::GetLastError();
    log_text("\tTry to delete file [%s]...", path.c_str());
    return finish_line(::DeleteFileA(path.c_str()));
}

DWORD remove_folder(const std::string& path)
{
    log_text("\tTry to delete folder [%s]...", path.c_str());
    return finish_line(::RemoveDirectoryA(path.c_str()));
}

// A junction or symbolic link goes as the link itself. Following it would delete whatever it points at,
// which may lie anywhere on the machine.
DWORD remove_link(const std::string& path, DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return remove_folder(path);
    log_text("\tTry to delete file [%s]...", path.c_str());
    return finish_line(::DeleteFileA(path.c_str()));
}

DWORD delete_entry(const std::string& folder, const WIN32_FIND_DATAA& entry)
{
    const bool is_folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (is_folder && (std::strcmp(entry.cFileName, ".") == 0 || std::strcmp(entry.cFileName, "..") == 0))
        return 0;
    const std::string path = folder + "\\" + entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return remove_link(path, entry.dwFileAttributes);
    return is_folder ? delete_tree(path) : delete_file(path);
}

DWORD delete_tree(const std::string& path)
{
    WIN32_FIND_DATAA entry;
    mcl::mswin::unique_hfind search(::FindFirstFileA((path + "\\*.*").c_str(), &entry));
    if (!search) {
        const DWORD error = ::GetLastError();
        log_line("\tCannot find [%s] file or folder", path.c_str());
        return is_missing(error) ? 0 : error;
    }
    do {
        const DWORD result = delete_entry(path, entry);
        if (result != 0)
            return result;
    } while (::FindNextFileA(search.get(), &entry));
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES)
        return error;
    search.reset();
    if (!::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL))
        return ::GetLastError();
    return remove_folder(path);
}

} // namespace

DWORD delete_folder_tree(const char* path)
{
    const DWORD attributes = ::GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return remove_link(path, attributes);
    return delete_tree(path);
}

} // namespace cleaner
