#include "mcl/mswin/relative_open.h"

#include <winternl.h>

#include <climits>

namespace mcl::mswin {

namespace {

// STATUS_OPLOCK_BREAK_IN_PROGRESS (ntstatus.h cannot be included beside windows.h without rework).
const NTSTATUS kOplockBreakInProgress = 0x00000108;
// Another process's opportunistic lock on the item: an open that breaks it waits until its holder lets go, and a
// holder that never does would hold the caller for ever. The open asks not to wait, and tries again for a while.
const int kOplockAttempts = 20;
const DWORD kOplockPauseMs = 100;

} // namespace

DWORD open_relative(HANDLE parent, std::wstring_view name, const relative_open& how, unique_handle& out)
{
    const size_t bytes = name.size() * sizeof(wchar_t);
    if (name.find(L'\\') != std::wstring_view::npos || bytes > USHRT_MAX - sizeof(wchar_t))
        return ERROR_INVALID_NAME;
    UNICODE_STRING object_name = {};
    object_name.Buffer = const_cast<wchar_t*>(name.data());
    object_name.Length = static_cast<USHORT>(bytes);
    object_name.MaximumLength = static_cast<USHORT>(bytes);
    OBJECT_ATTRIBUTES attributes = {};
    InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE, parent, nullptr);
    IO_STATUS_BLOCK status_block = {};
    ULONG options = FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT | FILE_COMPLETE_IF_OPLOCKED;
    if (how.backup_intent)
        options |= FILE_OPEN_FOR_BACKUP_INTENT;
    if (how.kind == relative_kind::folder)
        options |= FILE_DIRECTORY_FILE;
    if (how.kind == relative_kind::file)
        options |= FILE_NON_DIRECTORY_FILE;
    for (int attempt = 0;; ++attempt) {
        HANDLE opened = nullptr;
        const NTSTATUS status = ::NtCreateFile(&opened, how.access | SYNCHRONIZE, &attributes, &status_block,
                                               nullptr, 0, how.share, FILE_OPEN, options, nullptr, 0);
        if (status < 0)
            return ::RtlNtStatusToDosError(status);
        unique_handle held(opened);
        if (status != kOplockBreakInProgress) {
            out = std::move(held);
            return 0;
        }
        // Held by another process until its holder acknowledges the break: in use, as far as the caller goes.
        if (attempt + 1 == kOplockAttempts)
            return ERROR_SHARING_VIOLATION;
        held.reset();
        ::Sleep(kOplockPauseMs);
    }
}

} // namespace mcl::mswin
