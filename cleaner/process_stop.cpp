#include "cleaner/process_stop.h"

#include "cleaner/run_log.h"
#include "footprint/process_image.h"
#include "mcl/mswin/unique_resource.h"

#include <tlhelp32.h>

namespace cleaner {

using mcl::mswin::unique_handle;

namespace {

const DWORD kExitWaitMs = 5000;

// Process id of the first snapshot entry named `image_name`, or 0 when none is.
DWORD find_first(HANDLE snapshot, const wchar_t* image_name)
{
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (ferrolink::same_image_name(entry.szExeFile, image_name))
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
    return ferrolink::image_path_has_name(path, image_name);
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

    unique_handle process(
        ::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, process_id));
    if (process && !has_image_name(process.get(), image_name))
        return 1;
    if (process && ::TerminateProcess(process.get(), 0)) {
        // Termination only begins here; until the process has ended its files stay open and block step 5.
        ::WaitForSingleObject(process.get(), kExitWaitMs);
        return 0;
    }

    const DWORD error = ::GetLastError();
    log_line("\tTerminate process:%s failed, LastError:%lu", wide_to_utf8(image_name).c_str(), error);
    return 3;
}

} // namespace cleaner
