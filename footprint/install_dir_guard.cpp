#include "footprint/install_dir_guard.h"

#include "footprint/footprint.h"
#include "footprint/linkless_path.h"
#include "footprint/registry_probe.h"
#include "footprint/shell_paths.h"
#include "mcl/mswin/unique_resource.h"

#include <windows.h>
#include <shlobj.h>

#include <cwchar>
#include <vector>

namespace ferrolink {

namespace {

using mcl::mswin::unique_handle;
using mcl::mswin::unique_hkey;

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

const wchar_t* const kLocalHosts[] = {L"localhost", L"127.0.0.1", L"::1", L"[::1]", L"0.0.0.0"};

bool same_text(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

bool is_drive_path(const std::wstring& path)
{
    const wchar_t letter = path.size() >= 3 ? path[0] : L'\0';
    const bool is_letter = (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
    return is_letter && path[1] == L':' && path[2] == L'\\';
}

// "\\server\share..." but not the device namespaces "\\?\" and "\\.\".
bool is_unc_path(const std::wstring& path)
{
    return path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\' && path[2] != L'?' &&
           path[2] != L'.';
}

// A colon anywhere but behind the drive letter names a stream ("C:\Windows::$INDEX_ALLOCATION").
bool has_stream_syntax(const std::wstring& path)
{
    const size_t first = is_drive_path(path) ? 2 : 0;
    return path.find(L':', first) != std::wstring::npos;
}

std::wstring without_trailing_backslashes(std::wstring path)
{
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

// The absolute form Windows itself resolves the path to, without trailing backslashes.
bool full_path(const std::wstring& path, std::wstring& full)
{
    if (!absolute_form(path, full))
        return false;
    full = without_trailing_backslashes(full);
    return true;
}

bool is_root(const std::wstring& full)
{
    if (full.size() == 2 && full[1] == L':')
        return true;
    if (!is_unc_path(full))
        return false;
    // "\\server" or "\\server\share": the share itself.
    const size_t share = full.find(L'\\', 2);
    return share == std::wstring::npos || full.find(L'\\', share + 1) == std::wstring::npos;
}

bool is_this_machine(const std::wstring& host)
{
    for (const wchar_t* local : kLocalHosts) {
        if (same_text(host, local))
            return true;
    }
    if (host.compare(0, 4, L"127.") == 0)
        return true;
    for (COMPUTER_NAME_FORMAT format : {ComputerNameNetBIOS, ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
        wchar_t name[MAX_COMPUTERNAME_LENGTH * 8] = {};
        DWORD length = static_cast<DWORD>(sizeof(name) / sizeof(name[0]));
        if (::GetComputerNameExW(format, name, &length) && length != 0 && same_text(host, name))
            return true;
    }
    return false;
}

// A share of this machine, or an administrative share anywhere ("C$", "ADMIN$"): another name for a local
// folder, which no installer registers.
bool is_local_or_admin_share(const std::wstring& full)
{
    const size_t host_end = full.find(L'\\', 2);
    const std::wstring host = full.substr(2, host_end - 2);
    const size_t share_end = full.find(L'\\', host_end + 1);
    const std::wstring share = full.substr(host_end + 1, share_end - host_end - 1);
    return is_this_machine(host) || (!share.empty() && share.back() == L'$');
}

unique_handle open_folder(const std::wstring& path)
{
    return unique_handle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool final_path(HANDLE handle, std::wstring& path)
{
    const DWORD needed = ::GetFinalPathNameByHandleW(handle, nullptr, 0, VOLUME_NAME_DOS);
    if (needed == 0)
        return false;
    path.assign(needed, L'\0');
    const DWORD written = ::GetFinalPathNameByHandleW(handle, &path[0], needed, VOLUME_NAME_DOS);
    if (written == 0 || written >= needed)
        return false;
    path.resize(written);
    path = without_trailing_backslashes(path);
    return true;
}

// Length of the root in a final path: "\\?\C:\", "\\?\UNC\server\share\" or "\\?\Volume{...}\".
size_t root_length(const std::wstring& path)
{
    size_t from = 4;
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        from = path.find(L'\\', 8);
        if (from == std::wstring::npos)
            return path.size();
        ++from;
    }
    const size_t end = path.find(L'\\', from);
    return end == std::wstring::npos ? path.size() : end + 1;
}

// The folder at `final` (a "\\?\" path) and every folder above it, by identity, into `ids`.
void add_levels(std::wstring final, std::vector<file_identity>& ids)
{
    const size_t root = root_length(final);
    for (;;) {
        const unique_handle level = open_folder(final.size() < root ? final + L"\\" : final);
        file_identity id;
        if (level && identity_of(level.get(), id))
            ids.push_back(id);
        const size_t parent = final.find_last_of(L'\\');
        if (final.size() < root || parent == std::wstring::npos || parent + 1 < root)
            return;
        final.resize(parent);
    }
}

// A shell folder and every folder above it. Their paths come from the system, so the text of the full path
// serves to find the folders above (resolving each through the mount manager costs far more).
void add_with_ancestors(const std::wstring& path, std::vector<file_identity>& ids)
{
    std::wstring full;
    if (path.empty() || !full_path(path, full))
        return;
    if (is_unc_path(full))
        add_levels(L"\\\\?\\UNC\\" + full.substr(2), ids);
    else if (is_drive_path(full + L"\\"))
        add_levels(L"\\\\?\\" + full, ids);
}

void add_folder(const std::wstring& path, std::vector<file_identity>& ids)
{
    const unique_handle folder = open_folder(path);
    file_identity id;
    if (folder && identity_of(folder.get(), id))
        ids.push_back(id);
}

// A tree nothing may be deleted inside, and which refusal it gives.
struct guarded_tree {
    std::wstring path;
    install_dir_verdict inside;
};

// The Windows folder, the profiles root and every user profile: nothing inside them is an installation folder.
std::vector<guarded_tree> guarded_trees()
{
    const install_dir_verdict windows_tree = install_dir_verdict::inside_windows;
    const install_dir_verdict profiles_tree = install_dir_verdict::inside_profiles;
    std::vector<guarded_tree> trees = {{shell_folder(CSIDL_WINDOWS), windows_tree},
                                       {shell_folder(CSIDL_PROFILE), profiles_tree}};
    wchar_t windows[MAX_PATH] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length != 0 && length < MAX_PATH)
        trees.push_back({windows, windows_tree});
    unique_hkey profiles;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, profile_list_key, 0, KEY_READ, profiles.put()) != ERROR_SUCCESS)
        return trees;
    trees.push_back({expanded_value(profiles.get(), nullptr, L"ProfilesDirectory"), profiles_tree});
    for (DWORD index = 0;; ++index) {
        wchar_t sid[256] = {};
        DWORD sid_length = 256;
        if (::RegEnumKeyExW(profiles.get(), index, sid, &sid_length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return trees;
        trees.push_back({expanded_value(profiles.get(), sid, L"ProfileImagePath"), profiles_tree});
    }
}

// By the whole file id, 128 bits where the file system has them (ReFS): its 64-bit index could make two folders one.
bool contains(const std::vector<file_identity>& ids, const file_identity& id)
{
    for (const file_identity& known : ids) {
        if (known == id)
            return true;
    }
    return false;
}

// `folder` is a shell folder, a guarded tree, or a folder above one of them.
bool holds_a_guarded_folder(HANDLE folder, const std::vector<guarded_tree>& trees)
{
    file_identity id;
    if (!identity_of(folder, id))
        return true;
    std::vector<file_identity> held;
    for (int csidl : kShellFolders)
        add_with_ancestors(shell_folder(csidl), held);
    for (const guarded_tree& tree : trees)
        add_with_ancestors(tree.path, held);
    return contains(held, id);
}

// Which guarded tree `folder`, or a folder above it, is; usable when none.
install_dir_verdict guarded_tree_around(HANDLE folder, const std::vector<guarded_tree>& trees)
{
    std::wstring final;
    if (!final_path(folder, final))
        return install_dir_verdict::unverifiable;
    std::vector<file_identity> levels;
    add_levels(final, levels);
    for (const guarded_tree& tree : trees) {
        std::vector<file_identity> guarded;
        add_folder(tree.path, guarded);
        for (const file_identity& level : levels) {
            if (contains(guarded, level))
                return tree.inside;
        }
    }
    return install_dir_verdict::usable;
}

bool is_absent(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_BAD_NETPATH ||
           error == ERROR_BAD_NET_NAME;
}

// The nearest folder above an absent path that exists, open; empty when none can be reached.
unique_handle nearest_existing_ancestor(std::wstring full)
{
    for (size_t parent = full.find_last_of(L'\\'); parent != std::wstring::npos && parent > 2;
         parent = full.find_last_of(L'\\')) {
        full.resize(parent);
        unique_handle folder = open_folder(full.size() == 2 ? full + L"\\" : full);
        if (folder)
            return folder;
    }
    return unique_handle();
}

// A folder that exists must pass every identity check, on the handle that was opened from the volume's root
// down without passing a link: the one the removal then walks from. One that is not there is nothing to
// delete, but it must not be meant to lie inside a guarded tree either. Any other reason not to open it leaves
// its identity unknown, and so it is refused.
install_dir_verdict identity_verdict(const std::wstring& full, held_item* checked)
{
    const std::vector<guarded_tree> trees = guarded_trees();
    held_item held;
    const DWORD error = open_without_links(full, held);
    if (error == 0) {
        const HANDLE handle_value = held.item.get();
        const DWORD attributes = attributes_of(handle_value);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return install_dir_verdict::unverifiable;
        if ((attributes | held.listed) & FILE_ATTRIBUTE_REPARSE_POINT)
            return install_dir_verdict::through_link;
        if (holds_a_guarded_folder(handle_value, trees))
            return install_dir_verdict::holds_system_folder;
        const install_dir_verdict verdict = guarded_tree_around(handle_value, trees);
        if (verdict == install_dir_verdict::usable && checked != nullptr)
            *checked = std::move(held);
        return verdict;
    }
    if (error == ERROR_REPARSE_ATTRIBUTE_CONFLICT)
        return install_dir_verdict::through_link;
    if (!is_absent(error))
        return install_dir_verdict::unverifiable;
    const unique_handle ancestor = nearest_existing_ancestor(full);
    return ancestor ? guarded_tree_around(ancestor.get(), trees) : install_dir_verdict::usable;
}

} // namespace

install_dir_verdict check_install_dir(const wchar_t* buffer, std::size_t units, std::wstring& folder,
                                      held_item* checked)
{
    const wchar_t* end = std::wmemchr(buffer, L'\0', units);
    if (end == nullptr)
        return install_dir_verdict::unterminated;
    folder.assign(buffer, end);
    if (folder.empty())
        return install_dir_verdict::empty;
    if (folder.size() >= MAX_PATH)
        return install_dir_verdict::too_long;
    if (!is_drive_path(folder) && !is_unc_path(folder))
        return install_dir_verdict::not_absolute;
    if (has_stream_syntax(folder))
        return install_dir_verdict::stream_syntax;
    std::wstring full;
    if (!full_path(folder, full) || is_root(full))
        return install_dir_verdict::root;
    if (is_unc_path(full) && is_local_or_admin_share(full))
        return install_dir_verdict::local_share;
    return identity_verdict(full, checked);
}

bool usable_install_dir(const wchar_t* buffer, std::size_t units, std::wstring& folder)
{
    return check_install_dir(buffer, units, folder) == install_dir_verdict::usable;
}

const char* refusal_text(install_dir_verdict verdict)
{
    switch (verdict) {
    case install_dir_verdict::usable:
        return "";
    case install_dir_verdict::unterminated:
        return "refused: not a terminated text";
    case install_dir_verdict::empty:
        return "refused: empty";
    case install_dir_verdict::too_long:
        return "refused: longer than a folder path may be";
    case install_dir_verdict::not_absolute:
        return "refused: not an absolute path";
    case install_dir_verdict::stream_syntax:
        return "refused: names a stream";
    case install_dir_verdict::root:
        return "refused: a drive or share root";
    case install_dir_verdict::local_share:
        return "refused: a share of this machine or an administrative share";
    case install_dir_verdict::holds_system_folder:
        return "refused: a system or shell folder, or a folder that holds one";
    case install_dir_verdict::inside_windows:
        return "refused: inside the Windows folder";
    case install_dir_verdict::inside_profiles:
        return "refused: inside the profiles folder or a user profile";
    case install_dir_verdict::through_link:
        return "refused: a link, or reached through one";
    case install_dir_verdict::unverifiable:
        return "refused: its identity cannot be checked";
    }
    return "refused";
}

} // namespace ferrolink
