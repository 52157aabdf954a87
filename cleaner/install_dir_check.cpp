#include "cleaner/install_dir_check.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>

namespace cleaner {

namespace {

// Folders no installer owns; deleting one of them, or a folder above one, would ruin the machine.
const int kShellFolders[] = {
    CSIDL_WINDOWS,          CSIDL_SYSTEM,           CSIDL_SYSTEMX86,         CSIDL_FONTS,
    CSIDL_RESOURCES,        CSIDL_PROGRAM_FILES,    CSIDL_PROGRAM_FILESX86,  CSIDL_PROGRAM_FILES_COMMON,
    CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_PROFILE,   CSIDL_APPDATA,           CSIDL_LOCAL_APPDATA,
    CSIDL_COMMON_APPDATA,   CSIDL_PERSONAL,         CSIDL_COMMON_DOCUMENTS,  CSIDL_DESKTOPDIRECTORY,
    CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU,  CSIDL_PROGRAMS,
    CSIDL_COMMON_PROGRAMS,  CSIDL_STARTUP,          CSIDL_COMMON_STARTUP,    CSIDL_TEMPLATES,
    CSIDL_COMMON_TEMPLATES, CSIDL_MYMUSIC,          CSIDL_MYPICTURES,        CSIDL_MYVIDEO,
    CSIDL_ADMINTOOLS,       CSIDL_COMMON_ADMINTOOLS,
};

bool is_drive_path(const std::string& path)
{
    const char letter = path.size() >= 3 ? path[0] : '\0';
    const bool is_letter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    return is_letter && path[1] == ':' && path[2] == '\\';
}

// "\\server\share..." but not the device namespaces "\\?\" and "\\.\".
bool is_unc_path(const std::string& path)
{
    return path.size() >= 3 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\' && path[2] != '?' &&
           path[2] != '.';
}

std::string without_trailing_backslashes(std::string path)
{
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

// An 8.3 alias ("C:\PROGRA~2") spelt out in long names, so that it cannot hide a shell folder. A path that does
// not exist keeps its form: nothing is there to delete, and nothing below it can be a shell folder.
std::string long_form(const std::string& path)
{
    const DWORD needed = ::GetLongPathNameA(path.c_str(), nullptr, 0);
    if (needed == 0)
        return path;
    std::string expanded(needed, '\0');
    const DWORD written = ::GetLongPathNameA(path.c_str(), &expanded[0], needed);
    if (written == 0 || written >= needed)
        return path;
    expanded.resize(written);
    return expanded;
}

// The absolute form Windows itself resolves the path to ("." and ".." gone, "/" turned into "\", short names
// made long).
bool full_path(const std::string& path, std::string& full)
{
    const DWORD needed = ::GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return false;
    full.assign(needed, '\0');
    const DWORD written = ::GetFullPathNameA(path.c_str(), needed, &full[0], nullptr);
    if (written == 0 || written >= needed)
        return false;
    full.resize(written);
    full = without_trailing_backslashes(long_form(full));
    return true;
}

bool is_root(const std::string& full)
{
    if (full.size() == 2 && full[1] == ':')
        return true;
    if (!is_unc_path(full))
        return false;
    // "\\server" or "\\server\share": the share itself.
    const size_t share = full.find('\\', 2);
    return share == std::string::npos || full.find('\\', share + 1) == std::string::npos;
}

bool same_text(const std::string& a, const std::string& b)
{
    return ::lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// `folder` is `shell` or lies above it.
bool holds(const std::string& folder, const std::string& shell)
{
    if (shell.size() < folder.size())
        return false;
    if (shell.size() > folder.size() && shell[folder.size()] != '\\')
        return false;
    return same_text(folder, shell.substr(0, folder.size()));
}

bool holds_a_shell_folder(const std::string& full)
{
    for (int csidl : kShellFolders) {
        char shell[MAX_PATH] = {};
        std::string shell_full;
        if (::SHGetSpecialFolderPathA(nullptr, shell, csidl, FALSE) && full_path(shell, shell_full) &&
            holds(full, shell_full))
            return true;
    }
    return false;
}

} // namespace

bool usable_install_dir(const char* buffer, std::size_t size, std::string& folder)
{
    const void* end = std::memchr(buffer, '\0', size);
    if (end == nullptr)
        return false;
    folder.assign(buffer, static_cast<const char*>(end));
    if (!is_drive_path(folder) && !is_unc_path(folder))
        return false;
    std::string full;
    return full_path(folder, full) && !is_root(full) && !holds_a_shell_folder(full);
}

} // namespace cleaner
