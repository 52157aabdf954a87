#include "cleaner/process_stop.h"

#include "cleaner/run_log.h"
#include "mcl/mswin/unique_resource.h"

#include <tlhelp32.h>

#include <cwchar>

namespace cleaner {

using mcl::mswin::unique_handle;

namespace {

// Process id of the first snapshot entry named `image_name`, or 0 when none is. The names are compared
// character by character ignoring case, as the file system does: a linguistic comparison would take names
// that differ by an ignorable character (a soft hyphen, say) for the same one.
DWORD find_first(HANDLE snapshot, const wchar_t* image_name)
{
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (::CompareStringOrdinal(entry.szExeFile, -1, image_name, -1, TRUE) == CSTR_EQUAL)
            return entry.th32ProcessID;
    }
    return 0;
}

// The file name part of the opened process's image. A process id can be reused between the snapshot and
// the open; only a process that still carries the wanted name is terminated.
bool has_image_name(HANDLE process, const wchar_t* image_name)
{
    wchar_t path[MAX_PATH * 4] = {};
    DWORD length = static_cast<DWORD>(sizeof(path) / sizeof(path[0]));
    if (!::QueryFullProcessImageNameW(process, 0, path, &length))
        return false;
    const wchar_t* separator = std::wcsrchr(path, L'\\');
    const wchar_t* name = separator != nullptr ? separator + 1 : path;
    return ::CompareStringOrdinal(name, -1, image_name, -1, TRUE) == CSTR_EQUAL;
}

} // namespace

int stop_process(const wchar_t* image_name)
{
    DWORD process_id = 0;
    {
        unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot)
            return 2;
        process_id = find_first(snapshot.get(), image_name);
    }
    if (process_id == 0)
        return 1;

    unique_handle process(::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
    if (process && !has_image_name(process.get(), image_name))
        return 1;
    if (process && ::TerminateProcess(process.get(), 0))
        return 0;

    const DWORD error = ::GetLastError();
    log_line("\tTerminate process:%s failed, LastError:%lu", to_utf8(image_name).c_str(), error);
    return 3;
}

} // namespace cleaner
