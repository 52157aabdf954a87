// The client's Windows services, played by test_service.exe.
#pragma once

#include <windows.h>

#include <string>

namespace fake_client {

// The client's two service names, in the order the cleaner handles them.
extern const wchar_t* const client_service_names[2];

struct service_options {
    DWORD start_pending_ms = 0;  // time the service reports START_PENDING
    DWORD stop_pending_ms = 0;   // time it reports STOP_PENDING after a stop control
    bool accept_stop = true;     // false: the stop control is refused (1052)
    DWORD exit_delay_ms = 0;     // time its process lingers after it reported SERVICE_STOPPED
    bool start = true;           // start it and wait until it runs
};

// Installs test_service.exe (from this program's folder) as an own-process service under `name`, and starts
// it unless told not to. 0 or the error code.
DWORD install_service(const std::wstring& name, const service_options& options = service_options());

// Stops the service (ending its process when it will not stop within 30 s) and deletes it.
// 0, also when it does not exist; else the error code.
DWORD remove_service(const std::wstring& name);

// The service's current state (SERVICE_RUNNING...), 0 when it does not exist.
DWORD service_state(const std::wstring& name);

// Waits until the service reports `state`; false after `timeout_ms`.
bool wait_for_service_state(const std::wstring& name, DWORD state, DWORD timeout_ms);

} // namespace fake_client
