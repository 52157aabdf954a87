#include "service_host.h"

#include "double_peer.h"
#include "frame_log.h"

#include "mcl/lock.h"

#include <windows.h>

#include <cstdio>

namespace protection_double {

namespace {

// The service's state, shared by its main function and the control handler the dispatcher calls.
host_options g_options;
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
SERVICE_STATUS g_status = {};
mcl::lock g_status_lock;
// Held while the peer is used from the control handler, and while service_main lets it go.
mcl::lock g_peer_lock;
double_peer* g_peer = nullptr;

void report(DWORD state, DWORD exit_code = NO_ERROR, DWORD wait_hint_ms = 0)
{
    mcl::scoped_lock guard(g_status_lock);
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    g_status.dwWin32ExitCode = exit_code;
    g_status.dwWaitHint = wait_hint_ms;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    g_status.dwCheckPoint = pending ? g_status.dwCheckPoint + 1 : 0;
    ::SetServiceStatus(g_status_handle, &g_status);
}

DWORD WINAPI control_handler(DWORD control, DWORD, void*, void*)
{
    switch (control) {
    case SERVICE_CONTROL_STOP: {
        report(SERVICE_STOP_PENDING, NO_ERROR, 15000);
        // Disconnecting makes run_listener return in service_main, which then reports the stop.
        mcl::scoped_lock guard(g_peer_lock);
        if (g_peer != nullptr)
            g_peer->disconnect();
        return NO_ERROR;
    }
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI service_main(DWORD, wchar_t**)
{
    g_status_handle = ::RegisterServiceCtrlHandlerExW(L"", control_handler, nullptr);
    if (g_status_handle == nullptr)
        return;
    report(SERVICE_START_PENDING, NO_ERROR, 10000);
    frame_log log(g_options.log_path);
    bool stopping = false;
    {
        // Running is reported only once a pipe pair waits, so a client that sees it running can connect.
        double_peer peer(g_options.name, g_options.script_path, log, [] { report(SERVICE_RUNNING); });
        peer.load_model();
        {
            mcl::scoped_lock guard(g_peer_lock);
            g_peer = &peer;
        }
        peer.run_listener();
        mcl::scoped_lock guard(g_peer_lock);
        g_peer = nullptr;
        mcl::scoped_lock status_guard(g_status_lock);
        stopping = g_status.dwCurrentState == SERVICE_STOP_PENDING;
    }
    report(SERVICE_STOPPED, stopping ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR);
}

} // namespace

int run_service(const host_options& options)
{
    g_options = options;
    // An own-process service: the manager ignores the name in the table.
    wchar_t name[] = L"";
    SERVICE_TABLE_ENTRYW table[] = {{name, service_main}, {nullptr, nullptr}};
    if (!::StartServiceCtrlDispatcherW(table)) {
        std::fprintf(stderr, "protection_service: 'service' runs only under the service control manager (error %lu)\n",
                     ::GetLastError());
        return 1;
    }
    return 0;
}

int run_console(const host_options& options)
{
    frame_log log(options.log_path);
    double_peer peer(options.name, options.script_path, log, [&options] {
        std::printf("protection_service: listening as %s\n", options.name.c_str());
        std::fflush(stdout);
    });
    peer.load_model();
    peer.run_listener();
    std::fprintf(stderr, "protection_service: cannot listen as %s\n", options.name.c_str());
    return 1;
}

} // namespace protection_double
