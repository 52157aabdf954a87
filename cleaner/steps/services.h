#pragma once

#include <windows.h>

namespace cleaner {

// Step 3: stops and deletes the client's two services ("ORVANE_Ferrolink", then "Orvane_Ferrolink_Service").
// 1 when at least one of them was deleted or does not exist, 0 otherwise (or when the Service Control
// Manager cannot be opened).
[[nodiscard]] int remove_services();

// The same for any two service names, with the longest wait for a stop-pending service; once it has
// passed, the service is deleted anyway (Windows removes it when its process ends).
[[nodiscard]] int remove_services(const wchar_t* first_name, const wchar_t* second_name, DWORD stop_wait_limit_ms);

} // namespace cleaner
