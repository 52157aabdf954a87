#include "cleaner/steps/services.h"

#include "footprint/footprint.h"
#include "cleaner/run_log.h"
#include "mcl/mswin/unique_resource.h"

namespace cleaner {

namespace {

using mcl::mswin::unique_handle;
using mcl::mswin::unique_schandle;

const DWORD kPollMs = 200;
// A service that reports stop-pending for longer than this is deleted while it still runs.
const DWORD kStopWaitLimitMs = 60000;
// A stopped service's process still unloads its modules; until it has ended they block step 5.
const DWORD kProcessExitWaitMs = 5000;
// How long a deleted service that has stopped may stay listed until the manager has noticed its process end.
const DWORD kStoppedServiceGoneMs = 2000;

enum class removal { gone, absent, not_removed };

// True when the service reported it had stopped. The sleep is alertable so that an APC or I/O completion routine
// queued to the run's one thread runs during this wait (up to a minute) instead of after it. None is queued today:
// step 2 has released its helpers, with their threads and pipes, before step 3 runs. Should one end a sleep early,
// that poll still counts in full: the wait can only end sooner, and the service is then deleted while it stops,
// as after the limit.
bool wait_while_stop_pending(SC_HANDLE service, DWORD limit_ms)
{
    SERVICE_STATUS status = {};
    DWORD waited = 0;
    do {
        ::SleepEx(kPollMs, TRUE);
        waited += kPollMs;
        if (!::QueryServiceStatus(service, &status))
            return false;
    } while (status.dwCurrentState == SERVICE_STOP_PENDING && waited < limit_ms);
    return status.dwCurrentState == SERVICE_STOPPED;
}

// The process of a running service that has one of its own, held from now on so that its id cannot pass to
// another process; none for a shared or a stopped service.
unique_handle own_process_of(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                                &needed) ||
        status.dwProcessId == 0 || !(status.dwServiceType & SERVICE_WIN32_OWN_PROCESS))
        return unique_handle();
    return unique_handle(::OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
}

enum class presence { gone, stopped, running };

presence presence_of(SC_HANDLE manager, const wchar_t* name)
{
    const unique_schandle service(::OpenServiceW(manager, name, SERVICE_QUERY_STATUS));
    if (!service)
        return presence::gone;
    SERVICE_STATUS status = {};
    return ::QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOPPED
               ? presence::stopped
               : presence::running;
}

// DeleteService only marks a service: it goes once it has stopped and the last handle to it is closed, else
// when Windows restarts. A stopped one may stay listed a moment longer, until the manager has seen its process
// end; none of this process's handles to it is open while it waits.
void report_if_still_installed(SC_HANDLE manager, const wchar_t* name)
{
    presence found = presence_of(manager, name);
    for (DWORD waited = 0; found == presence::stopped && waited < kStoppedServiceGoneMs; waited += kPollMs) {
        ::Sleep(kPollMs);
        found = presence_of(manager, name);
    }
    if (found == presence::gone)
        return;
    log_line("\t%s will be removed when Windows restarts", wide_to_utf8(name).c_str());
    restart_required = true;
}

removal remove_service(SC_HANDLE manager, const wchar_t* name, DWORD stop_wait_limit_ms)
{
    unique_schandle service(::OpenServiceW(manager, name, SERVICE_ALL_ACCESS));
    if (!service) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            log_line("%s have already uninstalled", wide_to_utf8(name).c_str());
            return removal::absent;
        }
        log_line("\tOpenService failed, LastError:%lu", error);
        return removal::not_removed;
    }
    const unique_handle process = own_process_of(service.get());
    // A service that does not run refuses the stop control; there is nothing to wait for then.
    SERVICE_STATUS status = {};
    const bool stopped = ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status) &&
                         wait_while_stop_pending(service.get(), stop_wait_limit_ms);
    // Marked already (by an earlier run that Windows has not yet restarted after), it is on its way as well.
    if (!::DeleteService(service.get()) && ::GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        return removal::not_removed;
    service.reset();
    // Only a stopped service's process is about to end; one that refused or is still stopping is not waited for.
    if (stopped && process)
        ::WaitForSingleObject(process.get(), kProcessExitWaitMs);
    report_if_still_installed(manager, name);
    return removal::gone;
}

} // namespace

int remove_services(const wchar_t* first_name, const wchar_t* second_name, DWORD stop_wait_limit_ms)
{
    const unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return 0;
    const removal first = remove_service(manager.get(), first_name, stop_wait_limit_ms);
    const removal second = remove_service(manager.get(), second_name, stop_wait_limit_ms);
    if (first == removal::not_removed && second == removal::not_removed)
        return 0;
    log_line("\tsucceed");
    return 1;
}

int remove_services()
{
    return remove_services(ferrolink::service_names[0], ferrolink::service_names[1], kStopWaitLimitMs);
}

} // namespace cleaner
