#include "services.h"

#include "common.h"
#include "mcl/mswin/service_process.h"
#include "mcl/mswin/unique_resource.h"

namespace fake_client {

const wchar_t* const client_service_names[2] = {L"ORVANE_Ferrolink", L"Orvane_Ferrolink_Service"};

namespace {

using mcl::mswin::unique_handle;
using mcl::mswin::unique_schandle;

const DWORD kStopWaitMs = 30000;
const DWORD kPollMs = 50;

unique_schandle open_manager()
{
    return unique_schandle(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

std::wstring command_line(const service_options& options)
{
    std::wstring line = L"\"" + program_folder() + L"\\test_service.exe\"";
    if (options.start_pending_ms != 0)
        line += L" --start-pending " + std::to_wstring(options.start_pending_ms);
    if (options.stop_pending_ms != 0)
        line += L" --stop-pending " + std::to_wstring(options.stop_pending_ms);
    if (!options.accept_stop)
        line += L" --no-stop";
    if (options.exit_delay_ms != 0)
        line += L" --exit-delay " + std::to_wstring(options.exit_delay_ms);
    return line;
}

DWORD state_of(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    return ::QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

bool wait_for_state(SC_HANDLE service, DWORD state, DWORD timeout_ms)
{
    for (DWORD waited = 0;; waited += kPollMs) {
        if (state_of(service) == state)
            return true;
        if (waited >= timeout_ms)
            return false;
        ::Sleep(kPollMs);
    }
}

void end_service_process(SC_HANDLE service)
{
    const unique_handle process = mcl::mswin::open_service_process(service, PROCESS_TERMINATE | SYNCHRONIZE);
    if (!process)
        return;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 5000);
}

void stop(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    const DWORD state = state_of(service);
    if (state == SERVICE_STOPPED || state == 0)
        return;
    // A service that refuses the stop control (or will not stop in time) has its process ended.
    if (state != SERVICE_STOP_PENDING && !::ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        if (::GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
            end_service_process(service);
        return;
    }
    if (!wait_for_state(service, SERVICE_STOPPED, kStopWaitMs))
        end_service_process(service);
}

} // namespace

DWORD install_service(const std::wstring& name, const service_options& options)
{
    const unique_schandle manager = open_manager();
    if (!manager)
        return ::GetLastError();
    const unique_schandle service(::CreateServiceW(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                   SERVICE_ERROR_IGNORE, command_line(options).c_str(), nullptr,
                                                   nullptr, nullptr, nullptr, nullptr));
    if (!service)
        return ::GetLastError();
    if (!options.start)
        return 0;
    if (!::StartServiceW(service.get(), 0, nullptr))
        return ::GetLastError();
    return wait_for_state(service.get(), SERVICE_RUNNING, options.start_pending_ms + 10000) ? 0 : ERROR_TIMEOUT;
}

DWORD remove_service(const std::wstring& name)
{
    const unique_schandle manager = open_manager();
    if (!manager)
        return ::GetLastError();
    const unique_schandle service(::OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
    if (!service) {
        const DWORD error = ::GetLastError();
        return error == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : error;
    }
    stop(service.get());
    if (::DeleteService(service.get()) || ::GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE)
        return 0;
    return ::GetLastError();
}

DWORD service_state(const std::wstring& name)
{
    const unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const unique_schandle service(manager ? ::OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS)
                                          : nullptr);
    return service ? state_of(service.get()) : 0;
}

bool wait_for_service_state(const std::wstring& name, DWORD state, DWORD timeout_ms)
{
    const unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const unique_schandle service(manager ? ::OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS)
                                          : nullptr);
    return service && wait_for_state(service.get(), state, timeout_ms);
}

} // namespace fake_client
