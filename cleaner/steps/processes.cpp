#include "cleaner/steps/processes.h"

#include "cleaner/run_log.h"
#include "footprint/process_image.h"
#include "mcl/mswin/unique_resource.h"

#include <tlhelp32.h>

#include <vector>

namespace cleaner {

using mcl::mswin::unique_handle;

namespace {

// Every session (fast user switching, Remote Desktop) runs its own copy, and a copy may start while others
// end: the snapshot is taken again until no copy is left, at most this often.
const int kRounds = 5;
const DWORD kExitWaitMs = 5000;

// Snapshot failed: the process list is unavailable.
const DWORD kNoSnapshot = 0xFFFFFFFF;

bool contains(const std::vector<DWORD>& ids, DWORD id)
{
    for (DWORD known : ids) {
        if (known == id)
            return true;
    }
    return false;
}

// Process ids of every snapshot entry named `image_name` but the `foreign` ones; kNoSnapshot alone when the
// snapshot fails.
std::vector<DWORD> find_all(const wchar_t* image_name, const std::vector<DWORD>& foreign)
{
    unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return {kNoSnapshot};
    std::vector<DWORD> ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (ferrolink::same_image_name(entry.szExeFile, image_name) && !contains(foreign, entry.th32ProcessID))
            ids.push_back(entry.th32ProcessID);
    }
    return ids;
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

bool has_ended(HANDLE process)
{
    return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

// What became of the copies of one name.
struct stop_state {
    std::vector<DWORD> foreign;         // ids that, once opened, no longer carried the name (reused)
    bool stopped = false;               // a copy was ended, or ended by itself while it was being stopped
    DWORD error = 0;                    // the last failed open or termination
    std::vector<unique_handle> ending;  // terminated, until they have ended
};

// Ends the process `id` if it still carries the name. One gone before it could be opened (ERROR_INVALID_PARAMETER)
// or before it could be terminated counts as stopped.
void stop_one(DWORD id, const wchar_t* image_name, stop_state& state)
{
    unique_handle process(::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id));
    if (!process) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_INVALID_PARAMETER)
            state.stopped = true;
        else
            state.error = error;
        return;
    }
    if (!has_image_name(process.get(), image_name)) {
        state.foreign.push_back(id);
        return;
    }
    if (::TerminateProcess(process.get(), 0) || has_ended(process.get())) {
        state.stopped = true;
        state.ending.push_back(std::move(process));
        return;
    }
    state.error = ::GetLastError();
}

// Termination only begins with TerminateProcess; until a process has ended its files stay open and block step 5.
void wait_for_ending(stop_state& state, ULONGLONG deadline)
{
    for (unique_handle& process : state.ending) {
        const ULONGLONG now = ::GetTickCount64();
        ::WaitForSingleObject(process.get(), now < deadline ? static_cast<DWORD>(deadline - now) : 0);
    }
    state.ending.clear();
}

} // namespace

int stop_process(const wchar_t* image_name)
{
    stop_state state;
    const ULONGLONG deadline = ::GetTickCount64() + kExitWaitMs;
    std::vector<DWORD> running;
    for (int round = 0; round <= kRounds; ++round) {
        running = find_all(image_name, state.foreign);
        if (running.size() == 1 && running[0] == kNoSnapshot)
            return 2;
        if (running.empty() || round == kRounds)
            break;
        for (DWORD id : running)
            stop_one(id, image_name, state);
        wait_for_ending(state, deadline);
    }
    if (running.empty())
        return state.stopped ? 0 : 1;
    // A copy still runs: one that could not be opened or terminated, or one started again as fast as it ended.
    const DWORD error = state.error != 0 ? state.error : ERROR_TIMEOUT;
    log_line("\tTerminate process:%s failed, LastError:%lu", wide_to_utf8(image_name).c_str(), error);
    return 3;
}

} // namespace cleaner
