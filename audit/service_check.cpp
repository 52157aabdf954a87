#include "audit/check_support.h"
#include "audit/checks.h"
#include "footprint/footprint.h"
#include "footprint/pending_restart.h"
#include "mcl/mswin/unique_resource.h"

#include <cstring>
#include <iterator>
#include <vector>

namespace audit {

namespace {

using mcl::mswin::unique_schandle;

const char* state_name(DWORD state)
{
    switch (state) {
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "start pending";
    case SERVICE_STOP_PENDING: return "stop pending";
    case SERVICE_RUNNING: return "running";
    case SERVICE_CONTINUE_PENDING: return "continue pending";
    case SERVICE_PAUSE_PENDING: return "pause pending";
    case SERVICE_PAUSED: return "paused";
    default: return "state unknown";
    }
}

// Connect and status query are what a standard user is granted on the manager and on most services.
audit_item service_item(SC_HANDLE manager, const char* part, const wchar_t* name)
{
    const unique_schandle service(::OpenServiceW(manager, name, SERVICE_QUERY_STATUS));
    if (!service) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST)
            return absent_item(part, wide_to_utf8(name));
        // Only an installed service can refuse access.
        if (error == ERROR_ACCESS_DENIED)
            return present_item(part, wide_to_utf8(name), "state not readable by this account");
        return unchecked_item(part, wide_to_utf8(name), error);
    }
    SERVICE_STATUS status = {};
    const bool known = ::QueryServiceStatus(service.get(), &status) != FALSE;
    const char* state = known ? state_name(status.dwCurrentState) : "state unknown";
    if (!ferrolink::service_marked_for_deletion(name))
        return present_item(part, wide_to_utf8(name), state);
    // Marked for deletion, it goes once it has stopped and the last handle to it is closed, or at restart. Until
    // it has stopped, the client is still active: that is no leftover of the past.
    if (known && status.dwCurrentState == SERVICE_STOPPED)
        return pending_restart_item(part, wide_to_utf8(name), state);
    return present_item(part, wide_to_utf8(name), std::string(state) + ", marked for deletion");
}

// `id_prefix` and the service's name make each item's id ("service:ORVANE_Ferrolink").
audit_items check_services(const char* part, const char* id_prefix, const std::vector<std::wstring>& names)
{
    audit_items items;
    const unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const DWORD error = manager ? 0 : ::GetLastError();
    for (const std::wstring& name : names) {
        items.push_back(manager ? service_item(manager.get(), part, name.c_str())
                                : unchecked_item(part, wide_to_utf8(name), error));
        items.back().id = id_prefix + wide_to_utf8(name);
    }
    return items;
}

} // namespace

audit_items check_protection_services()
{
    std::vector<std::wstring> names;
    for (const char* name : ferrolink::protection_service_names)
        names.emplace_back(name, name + std::strlen(name));
    audit_items items = check_services("protection service", "protection_service:", names);
    for (audit_item& item : items)
        item.counted = false;
    return items;
}

audit_items check_client_services()
{
    const auto& names = ferrolink::service_names;
    return check_services("services", "service:", std::vector<std::wstring>(std::begin(names), std::end(names)));
}

} // namespace audit
