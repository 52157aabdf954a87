#pragma once

namespace cleaner {

// Step 4: uninstalls every network adapter whose first hardware id is one of the client's adapter ids,
// then deletes every published driver package whose source INF name carries the client's driver marker
// (setting restart_required for each; so does an adapter whose removal needs a restart). 1 on success, also
// when nothing was found; 0 when the device list or the INF list is unavailable, a matching adapter cannot be
// removed, or a package of the client cannot be deleted from the driver store.
[[nodiscard]] int remove_driver();

} // namespace cleaner
