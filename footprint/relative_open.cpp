#include "footprint/relative_open.h"

#include <winternl.h>

namespace ferrolink {

namespace {

// NtOpenFile's options (wdm.h): the kind of entry, opening a reparse point itself, synchronous use.
const ULONG kDirectoryFile = 0x00000001;
const ULONG kNonDirectoryFile = 0x00000040;
const ULONG kSynchronousIoNonAlert = 0x00000020;
const ULONG kOpenReparsePoint = 0x00200000;
const ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

using open_file_function = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, ULONG, ULONG);

// The only call that opens a name relative to an open folder.
open_file_function nt_open_file()
{
    static const auto function = reinterpret_cast<open_file_function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtOpenFile")));
    return function;
}

// One component: no separators, no stream syntax, no wildcards, not "." or "..".
bool is_plain_name(const std::wstring& name)
{
    if (name.empty() || name == L"." || name == L".." || name.size() > MAX_PATH)
        return false;
    return name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos && name.find(L'\0') == std::wstring::npos;
}

bool file_information(HANDLE entry, BY_HANDLE_FILE_INFORMATION& information)
{
    return ::GetFileInformationByHandle(entry, &information) != FALSE;
}

} // namespace

DWORD open_in_folder(HANDLE folder, const std::wstring& name, entry_kind kind, ACCESS_MASK access,
                     mcl::mswin::unique_handle& entry)
{
    entry.reset();
    if (!is_plain_name(name))
        return ERROR_INVALID_NAME;
    const open_file_function open_file = nt_open_file();
    if (open_file == nullptr)
        return ERROR_PROC_NOT_FOUND;
    std::wstring text = name;
    UNICODE_STRING unicode = {};
    unicode.Buffer = &text[0];
    unicode.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    unicode.MaximumLength = unicode.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicode, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io = {};
    const ULONG options = kOpenReparsePoint | kSynchronousIoNonAlert |
                          (kind == entry_kind::folder ? kDirectoryFile : kNonDirectoryFile);
    const NTSTATUS status = open_file(entry.put(), access | SYNCHRONIZE, &attributes, &io, kShareAll, options);
    if (status >= 0)
        return 0;
    entry.release();
    return ::RtlNtStatusToDosError(status);
}

DWORD open_folder_for_walk(const std::wstring& path, mcl::mswin::unique_handle& folder)
{
    folder.reset(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES, kShareAll,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return folder ? 0 : ::GetLastError();
}

bool is_link(HANDLE entry)
{
    BY_HANDLE_FILE_INFORMATION information = {};
    return !file_information(entry, information) || (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool same_entry(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION first = {};
    BY_HANDLE_FILE_INFORMATION second = {};
    return file_information(a, first) && file_information(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

} // namespace ferrolink
