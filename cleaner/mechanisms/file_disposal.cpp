#include "cleaner/mechanisms/file_disposal.h"

#include "mcl/mswin/unique_resource.h"

#include <vector>

namespace cleaner {

namespace {

// FileDispositionInfoEx and its flags (Windows 10 1607 and later; ignoring read-only from 1809), named here
// because the headers declare them only for builds that require those versions.
const FILE_INFO_BY_HANDLE_CLASS kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
const DWORD kDispositionDelete = 0x1;
const DWORD kDispositionPosixSemantics = 0x2;
const DWORD kDispositionIgnoreReadOnly = 0x10;

struct disposition_info_ex {
    DWORD flags;
};

const DWORD kFolderRetryLimitMs = 2000;
const DWORD kFolderRetryStepMs = 200;
const DWORD kListingBytes = 4096;

bool information_of(HANDLE handle, BY_HANDLE_FILE_INFORMATION& information)
{
    return ::GetFileInformationByHandle(handle, &information) != FALSE;
}

// What a system or file system without the extended disposition answers.
bool is_unsupported(DWORD error)
{
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

DWORD dispose_extended(HANDLE handle)
{
    disposition_info_ex disposition = {kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly};
    return ::SetFileInformationByHandle(handle, kDispositionInfoEx, &disposition, sizeof(disposition))
               ? 0
               : ::GetLastError();
}

// Only a file with other names still carries read-only here: the classic way cannot take it without changing
// the attributes of all of them, so it is left.
DWORD dispose_classic(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)))
        return 0;
    const DWORD error = ::GetLastError();
    BY_HANDLE_FILE_INFORMATION information = {};
    if (error == ERROR_ACCESS_DENIED && information_of(handle, information) &&
        (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
        return ERROR_FILE_READ_ONLY;
    return error;
}

// Whether the open folder lists nothing but "." and "..".
bool lists_nothing(HANDLE folder)
{
    std::vector<unsigned char> listing(kListingBytes);
    if (!::GetFileInformationByHandleEx(folder, FileIdBothDirectoryRestartInfo, listing.data(), kListingBytes))
        return ::GetLastError() == ERROR_NO_MORE_FILES;
    for (size_t at = 0;;) {
        const auto& entry = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(listing.data() + at);
        const size_t length = entry.FileNameLength / sizeof(wchar_t);
        const bool dot = (length == 1 && entry.FileName[0] == L'.') ||
                         (length == 2 && entry.FileName[0] == L'.' && entry.FileName[1] == L'.');
        if (!dot)
            return false;
        if (entry.NextEntryOffset == 0)
            break;
        at += entry.NextEntryOffset;
    }
    return !::GetFileInformationByHandleEx(folder, FileIdBothDirectoryInfo, listing.data(), kListingBytes) &&
           ::GetLastError() == ERROR_NO_MORE_FILES;
}

} // namespace

bool make_deletable(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!information_of(file, information))
        return false;
    if (information.nNumberOfLinks > 1)
        return true;
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

DWORD dispose(HANDLE handle)
{
    const DWORD error = dispose_extended(handle);
    return is_unsupported(error) ? dispose_classic(handle) : error;
}

// The folder is disposed of again only once its listing is empty: asked again while a deleted file is still
// listed, some implementations accept the disposition and then fail to remove the folder when it closes.
DWORD dispose_folder(HANDLE folder)
{
    DWORD error = dispose(folder);
    for (DWORD waited = 0; error == ERROR_DIR_NOT_EMPTY && waited < kFolderRetryLimitMs;) {
        ::Sleep(kFolderRetryStepMs);
        waited += kFolderRetryStepMs;
        if (lists_nothing(folder))
            error = dispose(folder);
    }
    return error;
}

DWORD delete_file_at(const std::wstring& path)
{
    const mcl::mswin::unique_handle file(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                       nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                                       nullptr));
    return file ? dispose(file.get()) : ::GetLastError();
}

bool is_in_use(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

DWORD delete_at_restart(const std::wstring& path)
{
    return ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? 0 : ::GetLastError();
}

} // namespace cleaner
