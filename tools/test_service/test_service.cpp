// A Windows service of our own that tests and the demo install under any name (SERVICE_WIN32_OWN_PROCESS).
// It runs until it is stopped. Options, on the command line of its binary path or as start arguments
// (start arguments win):
//   --start-pending MS   stay in SERVICE_START_PENDING for MS milliseconds before running
//   --stop-pending MS    stay in SERVICE_STOP_PENDING for MS milliseconds after the stop control
//   --no-stop            do not accept the stop control (ControlService then fails with 1052)
//   --exit-delay MS      keep the process for MS milliseconds after reporting SERVICE_STOPPED (command line
//                        only), as a service that still unloads its modules
// Started outside the Service Control Manager it prints its usage and exits with 1063.
#include <windows.h>
#include <shellapi.h>

#include "mcl/mswin/unique_resource.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

struct options {
    DWORD start_pending_ms = 0;
    DWORD stop_pending_ms = 0;
    bool accept_stop = true;
    DWORD exit_delay_ms = 0;
};

options g_options;
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
HANDLE g_stop_event = nullptr;
CRITICAL_SECTION g_status_lock;
SERVICE_STATUS g_status = {};

DWORD to_ms(const wchar_t* text)
{
    return static_cast<DWORD>(std::wcstoul(text, nullptr, 10));
}

void parse(int argc, wchar_t** argv, options& into)
{
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--start-pending") == 0 && i + 1 < argc)
            into.start_pending_ms = to_ms(argv[++i]);
        else if (std::wcscmp(argv[i], L"--stop-pending") == 0 && i + 1 < argc)
            into.stop_pending_ms = to_ms(argv[++i]);
        else if (std::wcscmp(argv[i], L"--no-stop") == 0)
            into.accept_stop = false;
        else if (std::wcscmp(argv[i], L"--exit-delay") == 0 && i + 1 < argc)
            into.exit_delay_ms = to_ms(argv[++i]);
    }
}

void report(DWORD state, DWORD wait_hint_ms = 0)
{
    ::EnterCriticalSection(&g_status_lock);
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = (state == SERVICE_RUNNING && g_options.accept_stop) ? SERVICE_ACCEPT_STOP : 0;
    g_status.dwWin32ExitCode = NO_ERROR;
    g_status.dwWaitHint = wait_hint_ms;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    g_status.dwCheckPoint = pending ? g_status.dwCheckPoint + 1 : 0;
    ::SetServiceStatus(g_status_handle, &g_status);
    ::LeaveCriticalSection(&g_status_lock);
}

// Stays in a pending state for `total_ms`, moving the check point on so the manager sees progress.
void pend(DWORD state, DWORD total_ms)
{
    const DWORD step_ms = 200;
    for (DWORD waited = 0; waited < total_ms; waited += step_ms) {
        report(state, step_ms * 5);
        ::Sleep(total_ms - waited < step_ms ? total_ms - waited : step_ms);
    }
}

DWORD WINAPI control_handler(DWORD control, DWORD, void*, void*)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        if (!g_options.accept_stop)
            return ERROR_CALL_NOT_IMPLEMENTED;
        // Reported here, so whoever sent the stop sees the pending state in its very next query.
        report(SERVICE_STOP_PENDING, g_options.stop_pending_ms + 1000);
        ::SetEvent(g_stop_event);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI service_main(DWORD argc, wchar_t** argv)
{
    parse(static_cast<int>(argc), argv, g_options);
    g_status_handle = ::RegisterServiceCtrlHandlerExW(L"", control_handler, nullptr);
    if (g_status_handle == nullptr)
        return;
    pend(SERVICE_START_PENDING, g_options.start_pending_ms);
    report(SERVICE_RUNNING);
    ::WaitForSingleObject(g_stop_event, INFINITE);
    pend(SERVICE_STOP_PENDING, g_options.stop_pending_ms);
    report(SERVICE_STOPPED);
}

} // namespace

int main()
{
    int argc = 0;
    const mcl::mswin::unique_hlocal argv_block(::CommandLineToArgvW(::GetCommandLineW(), &argc));
    if (argv_block)
        parse(argc, static_cast<wchar_t**>(argv_block.get()), g_options);
    ::InitializeCriticalSection(&g_status_lock);
    g_stop_event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // An own-process service: the manager ignores the name in the table.
    wchar_t name[] = L"";
    SERVICE_TABLE_ENTRYW table[] = {{name, service_main}, {nullptr, nullptr}};
    if (!::StartServiceCtrlDispatcherW(table)) {
        const DWORD error = ::GetLastError();
        std::fprintf(stderr, "test_service: runs only as a service (error %lu).\n"
                             "Options: --start-pending MS --stop-pending MS --no-stop --exit-delay MS\n", error);
        return static_cast<int>(error);
    }
    ::Sleep(g_options.exit_delay_ms);
    return 0;
}
