#include "cleaner/service_removal.h"

#include "footprint/footprint.h"
#include "cleaner/run_log.h"
#include "mcl/mswin/unique_resource.h"

namespace cleaner {

namespace {

using mcl::mswin::unique_schandle;

const DWORD kPollMs = 200;
// A service that reports stop-pending for longer than this is deleted while it still runs.
const DWORD kStopWaitLimitMs = 60000;

enum class removal { gone, absent, not_removed };

void wait_while_stop_pending(SC_HANDLE service, DWORD limit_ms)
{
    SERVICE_STATUS status = {};
    DWORD waited = 0;
    do {
        ::SleepEx(kPollMs, TRUE);
        waited += kPollMs;
        if (!::QueryServiceStatus(service, &status))
            return;
    } while (status.dwCurrentState == SERVICE_STOP_PENDING && waited < limit_ms);
}

removal remove_service(SC_HANDLE manager, const wchar_t* name, DWORD stop_wait_limit_ms)
{
    const unique_schandle service(::OpenServiceW(manager, name, SERVICE_ALL_ACCESS));
    if (!service) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            log_line("%s have already uninstalled", wide_to_utf8(name).c_str());
            return removal::absent;
        }
        log_line("\tOpenService failed, LastError:%lu", error);
        return removal::not_removed;
    }
    // A service that does not run refuses the stop control; there is nothing to wait for then.
    SERVICE_STATUS status = {};
    if (::ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
        wait_while_stop_pending(service.get(), stop_wait_limit_ms);
    return ::DeleteService(service.get()) ? removal::gone : removal::not_removed;
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
