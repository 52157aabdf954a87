#pragma once

namespace cleaner {

// Step 4: uninstalls every network adapter whose first hardware id is one of the client's adapter ids,
// then deletes every published driver package whose source INF name carries the client's driver marker
// (setting restart_required for each). 1 on success, also when nothing was found; 0 when the device list
// or the INF list is unavailable, or a matching adapter cannot be removed.
[[nodiscard]] int remove_driver();

} // namespace cleaner
