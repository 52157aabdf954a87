#include "helper_cli/service_status.h"

#include "mcl/mswin/unique_resource.h"

#include <cstdio>

using mcl::mswin::unique_schandle;

void print_service_status(const char* name)
{
    const unique_schandle manager(::OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!manager)
        return;
    const unique_schandle handle(::OpenServiceA(manager.get(), name, GENERIC_READ | SERVICE_QUERY_STATUS));
    if (!handle)
        return;
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(handle.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                sizeof(status), &needed))
        return;
    std::printf("%s is running. ServiceType: 0x%x ControlsAccepted: 0x%x PID %d\n", name,
                static_cast<unsigned>(status.dwServiceType), static_cast<unsigned>(status.dwControlsAccepted),
                static_cast<int>(status.dwProcessId));
    std::fflush(stdout);
}
