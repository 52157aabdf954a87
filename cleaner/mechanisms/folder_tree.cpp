#include "cleaner/mechanisms/folder_tree.h"

#include "cleaner/mechanisms/file_disposal.h"
#include "cleaner/mechanisms/folder_protection.h"
#include "cleaner/mechanisms/restart_folder.h"
#include "cleaner/run_log.h"
#include "footprint/linkless_path.h"
#include "mcl/mswin/relative_open.h"

#include <vector>

namespace cleaner {

namespace {

using mcl::mswin::unique_handle;

// A folder is held without sharing delete: nobody can rename it or swap it for a link while it is walked.
const DWORD kFolderAccess = DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
const DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD kEntryAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
const DWORD kAttributeAccess = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD kNoFollow = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
const DWORD kListingBytes = 64 * 1024;
// The search pattern the log has always been limited by: "\*.*" behind the folder, within MAX_PATH.
const size_t kPatternLength = 4;

// One file or folder: its path as the log shows it, its exact full form ("\\?\" before the full path, where
// trailing dots and spaces stay), and how it is opened: by its name inside the folder that is held open above
// it, never by its path. The top folder must still be the object that was checked (`checked`). `in_use` is what
// a file in use does to the walk.
struct place {
    std::wstring shown;
    std::wstring exact;
    HANDLE parent = nullptr;
    std::wstring name;
    HANDLE checked = nullptr;
    in_use_files in_use = in_use_files::fail;

    place child(HANDLE held, const wchar_t* entry_name, size_t length) const
    {
        const std::wstring entry(entry_name, length);
        return {shown + L"\\" + entry, exact + L"\\" + entry, held, entry, nullptr, in_use};
    }
};

DWORD delete_folder(const place& folder, DWORD listed_attributes);

// The search could not start because there is nothing there; any other reason is a real failure
// (the folder may well exist).
bool is_missing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES;
}

std::wstring exact_form(const std::wstring& path)
{
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::wstring full(needed, L'\0');
    const DWORD written = ::GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
    if (written == 0 || written >= needed)
        return path;
    full.resize(written);
    while (full.size() > 3 && full.back() == L'\\')
        full.pop_back();
    if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0)
        return full;
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

place top_place(const std::wstring& path, const ferrolink::held_item& held, in_use_files in_use)
{
    place top{path, exact_form(path), held.parent.get(), held.name, held.item.get(), in_use};
    if (top.exact.back() == L'\\')
        top.exact.pop_back();
    return top;
}

// Opens the place through its parent's handle; a link is opened as the link. The error is left as the last
// error, as a failed CreateFile leaves it.
unique_handle open(const place& at, DWORD access, DWORD share, DWORD flags)
{
    mcl::mswin::relative_open how;
    how.access = access;
    how.share = share;
    how.backup_intent = (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0;
    unique_handle opened;
    const DWORD error = mcl::mswin::open_relative(at.parent, at.name, how, opened);
    ::SetLastError(error);
    return opened;
}

// The attributes of a file with hard links are those of every link, also of one outside the tree.
bool single_name(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION information = {};
    return ::GetFileInformationByHandle(handle, &information) && information.nNumberOfLinks <= 1;
}

bool set_attributes(HANDLE handle, DWORD attributes)
{
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes;
    return ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

// Ends the line opened by a "Try to delete" text; the removal itself happens when the last handle closes.
DWORD finish_line(bool done, DWORD error)
{
    log_line(done ? "succeed" : "failed");
    return done ? 0 : error;
}

DWORD finish_disposal(HANDLE handle)
{
    const DWORD error = dispose(handle);
    return finish_line(error == 0, error);
}

void announce(const char* kind, const place& at)
{
    log_text("\tTry to delete %s [%s]...", kind, wide_to_utf8(at.shown).c_str());
}

DWORD going_at_restart(const place& at, DWORD result)
{
    log_line("\tFile [%s] is in use, it will be deleted when Windows restarts", wide_to_utf8(at.shown).c_str());
    restart_required = true;
    return result;
}

// A file in use goes at the next restart when the walk was asked for that, and the walk goes on. Moved out
// first (through `file`, open for deletion, when there is one), it no longer holds its folder back. One that
// cannot be moved (held without delete sharing) is registered where it is, and its folders after it, only when
// no other account can swap a folder on its path for a link before the restart; otherwise it is left.
DWORD unless_in_use(const place& at, DWORD error, HANDLE file)
{
    if (at.in_use != in_use_files::delete_at_restart || !is_in_use(error))
        return error;
    bool moved = false;
    const DWORD move_error = file != nullptr ? move_out_for_restart(file, at.exact, moved) : ERROR_INVALID_HANDLE;
    if (move_error == 0)
        return going_at_restart(at, 0);
    if (moved)
        return move_error;
    if (on_network_volume(at.exact)) {
        log_line("\tFile [%s] is in use on a network volume, it is left", wide_to_utf8(at.shown).c_str());
        return error;
    }
    if (!protected_all_the_way(at.exact.substr(0, at.exact.find_last_of(L'\\')))) {
        log_line("\tFile [%s] is in use and its folder is not protected, it is left", wide_to_utf8(at.shown).c_str());
        return error;
    }
    if (delete_at_restart(at.exact) != 0)
        return error;
    return going_at_restart(at, kScheduledForRestart);
}

DWORD finish_file_disposal(const place& at, HANDLE file)
{
    const DWORD error = finish_disposal(file);
    return error == 0 ? 0 : unless_in_use(at, error, file);
}

// Its files are registered already; the folder itself follows them, and its parent follows it.
DWORD delete_folder_at_restart(const place& folder)
{
    const DWORD error = delete_at_restart(folder.exact);
    if (error != 0)
        return error;
    log_line("\tFolder [%s] will be deleted when Windows restarts", wide_to_utf8(folder.shown).c_str());
    return kScheduledForRestart;
}

// A folder held open without delete sharing (a console whose current folder it is, say) cannot go now. Emptied,
// it goes at the restart, where no other account can swap it or a folder above it for a link before then;
// otherwise it stays and fails the walk, as on a share.
DWORD unless_folder_in_use(const place& folder, DWORD error)
{
    if (folder.in_use != in_use_files::delete_at_restart || !is_in_use(error) || on_network_volume(folder.exact) ||
        !protected_all_the_way(folder.exact))
        return error;
    const DWORD result = delete_folder_at_restart(folder);
    if (result == kScheduledForRestart)
        restart_required = true;
    return result == kScheduledForRestart ? result : error;
}

// A link goes as the link itself, through a handle on the link: following it would delete whatever it
// points at, anywhere on the machine. A read-only link loses that attribute first, on the link itself.
DWORD remove_link(const place& at, HANDLE link, DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_READONLY) && single_name(link)) {
        const DWORD writable = attributes & ~FILE_ATTRIBUTE_READONLY;
        set_attributes(link, writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL);
    }
    announce((attributes & FILE_ATTRIBUTE_DIRECTORY) ? "folder" : "file", at);
    return finish_disposal(link);
}

// The listing called the entry a link, yet it cannot be opened as one: it is neither walked nor touched.
DWORD refuse_link(const place& at, DWORD listed_attributes, DWORD error)
{
    announce((listed_attributes & FILE_ATTRIBUTE_DIRECTORY) ? "folder" : "file", at);
    return finish_line(false, error);
}

DWORD open_listed_link(const place& at, DWORD listed_attributes)
{
    const unique_handle link = open(at, kEntryAccess, kShareAll, kNoFollow);
    if (!link)
        return refuse_link(at, listed_attributes, ::GetLastError());
    const DWORD attributes = ferrolink::attributes_of(link.get());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return refuse_link(at, listed_attributes, ERROR_REPARSE_ATTRIBUTE_CONFLICT);
    return remove_link(at, link.get(), attributes);
}

// A file that cannot be opened for deletion still gets its attributes reset and its line, as a file
// whose deletion fails always has.
DWORD report_undeletable_file(const place& at, DWORD error)
{
    const unique_handle file = open(at, kAttributeAccess, kShareAll, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!file || !make_deletable(file.get()))
        return ::GetLastError();
    announce("file", at);
    finish_line(false, error);
    return (ferrolink::attributes_of(file.get()) & FILE_ATTRIBUTE_REPARSE_POINT) ? error
                                                                                : unless_in_use(at, error, nullptr);
}

DWORD delete_file(const place& at)
{
    if (at.shown.size() >= MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    const unique_handle file = open(at, kEntryAccess, kShareAll, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!file)
        return report_undeletable_file(at, ::GetLastError());
    const DWORD attributes = ferrolink::attributes_of(file.get());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return remove_link(at, file.get(), attributes);
    if (!make_deletable(file.get()))
        return ::GetLastError();
    announce("file", at);
    return finish_file_disposal(at, file.get());
}

bool is_dot_entry(const FILE_ID_BOTH_DIR_INFO& entry)
{
    const size_t length = entry.FileNameLength / sizeof(wchar_t);
    return (length == 1 && entry.FileName[0] == L'.') ||
           (length == 2 && entry.FileName[0] == L'.' && entry.FileName[1] == L'.');
}

DWORD delete_entry(const place& folder, HANDLE held, const FILE_ID_BOTH_DIR_INFO& entry)
{
    if ((entry.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && is_dot_entry(entry))
        return 0;
    const place at = folder.child(held, entry.FileName, entry.FileNameLength / sizeof(wchar_t));
    if (entry.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return open_listed_link(at, entry.FileAttributes);
    if (entry.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return delete_folder(at, entry.FileAttributes);
    return delete_file(at);
}

// Deletes everything the held folder lists, through the handle itself.
DWORD delete_contents(const place& folder, HANDLE handle)
{
    std::vector<unsigned char> listing(kListingBytes);
    bool scheduled = false;
    FILE_INFO_BY_HANDLE_CLASS next = FileIdBothDirectoryRestartInfo;
    while (::GetFileInformationByHandleEx(handle, next, listing.data(), kListingBytes)) {
        next = FileIdBothDirectoryInfo;
        for (size_t at = 0;;) {
            const auto& entry = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(listing.data() + at);
            const DWORD result = delete_entry(folder, handle, entry);
            if (result == kScheduledForRestart)
                scheduled = true;
            else if (result != 0)
                return result;
            if (entry.NextEntryOffset == 0)
                break;
            at += entry.NextEntryOffset;
        }
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES)
        return error;
    return scheduled ? kScheduledForRestart : 0;
}

DWORD cannot_find(const place& folder, DWORD error)
{
    log_line("\tCannot find [%s] file or folder", wide_to_utf8(folder.shown).c_str());
    return is_missing(error) ? 0 : error;
}

// `listed_attributes`: what the parent's listing (or, for the top folder, its attributes by name) said.
DWORD delete_folder(const place& folder, DWORD listed_attributes)
{
    if (folder.shown.size() + kPatternLength >= MAX_PATH)
        return cannot_find(folder, ERROR_FILENAME_EXCED_RANGE);
    DWORD delete_refused = 0;
    unique_handle handle = open(folder, kFolderAccess, kFolderShare, kNoFollow);
    if (!handle && ::GetLastError() == ERROR_SHARING_VIOLATION) {
        // Someone holds the folder without sharing delete: walk it all the same; only its own removal fails.
        delete_refused = ERROR_SHARING_VIOLATION;
        handle = open(folder, kFolderAccess & ~DELETE, kFolderShare, kNoFollow);
    }
    if (!handle)
        return cannot_find(folder, ::GetLastError());
    // Swapped since it was checked: whatever stands there now is not what may be deleted.
    if (folder.checked != nullptr && !ferrolink::same_object(handle.get(), folder.checked))
        return cannot_find(folder, ERROR_FILE_INVALID);
    const DWORD attributes = ferrolink::attributes_of(handle.get());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return cannot_find(folder, ::GetLastError());
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return remove_link(folder, handle.get(), attributes);
    if (listed_attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return refuse_link(folder, listed_attributes, ERROR_REPARSE_ATTRIBUTE_CONFLICT);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return cannot_find(folder, ERROR_DIRECTORY);
    const DWORD result = delete_contents(folder, handle.get());
    if (result == kScheduledForRestart)
        return delete_folder_at_restart(folder);
    if (result != 0)
        return result;
    if (!set_attributes(handle.get(), FILE_ATTRIBUTE_NORMAL))
        return ::GetLastError();
    announce("folder", folder);
    const DWORD error = delete_refused != 0 ? delete_refused : dispose_folder(handle.get());
    if (finish_line(error == 0, error) == 0)
        return 0;
    return unless_folder_in_use(folder, error);
}

} // namespace

DWORD delete_folder_tree(const std::wstring& path, const ferrolink::held_item& checked, in_use_files in_use)
{
    const place top = top_place(path, checked, in_use);
    if (top.shown.size() + kPatternLength >= MAX_PATH)
        return cannot_find(top, ERROR_FILENAME_EXCED_RANGE);
    const DWORD result = delete_folder(top, checked.listed);
    return result == kScheduledForRestart ? 0 : result;
}

DWORD delete_folder_tree(const std::wstring& path, const ferrolink::held_item& checked)
{
    return delete_folder_tree(path, checked, in_use_files::fail);
}

DWORD delete_folder_tree(const std::wstring& path, in_use_files in_use)
{
    const place shown{path, path, nullptr, std::wstring(), nullptr, in_use};
    if (path.empty())
        return cannot_find(shown, ERROR_PATH_NOT_FOUND);
    if (path.size() + kPatternLength >= MAX_PATH)
        return cannot_find(shown, ERROR_FILENAME_EXCED_RANGE);
    ferrolink::held_item checked;
    const DWORD error = ferrolink::open_without_links(path, checked);
    if (error != 0)
        return cannot_find(shown, error);
    return delete_folder_tree(path, checked, in_use);
}

DWORD delete_folder_tree(const std::wstring& path)
{
    return delete_folder_tree(path, in_use_files::fail);
}

} // namespace cleaner
