#include "mcl/mswin/relative_open.h"

#include <winternl.h>

#include <climits>

namespace mcl::mswin {

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
    ULONG options = FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT;
    if (how.backup_intent)
        options |= FILE_OPEN_FOR_BACKUP_INTENT;
    if (how.kind == relative_kind::folder)
        options |= FILE_DIRECTORY_FILE;
    if (how.kind == relative_kind::file)
        options |= FILE_NON_DIRECTORY_FILE;
    HANDLE opened = nullptr;
    const NTSTATUS status = ::NtCreateFile(&opened, how.access | SYNCHRONIZE, &attributes, &status_block, nullptr, 0,
                                           how.share, FILE_OPEN, options, nullptr, 0);
    if (status < 0)
        return ::RtlNtStatusToDosError(status);
    out.reset(opened);
    return 0;
}

} // namespace mcl::mswin
