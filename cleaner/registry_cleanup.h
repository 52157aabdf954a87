// Step 6: the client's registry data and its Windows Installer registration.
#pragma once

namespace cleaner {

// Deletes the client's keys (both views of its product key, the machine's copies of its classes keys), its Run
// values, its key in every other user's hive, then the installer registration of every product of the client
// that any of Windows Installer's records still names, and the installer's index of the upgrade family.
// `automatic` keeps the saved connection profiles. 1, or 0 when a user's hive stayed loaded or a user's key tree
// was left unfinished at its bound; every other failure is only logged.
[[nodiscard]] int delete_registry_data(bool automatic);

} // namespace cleaner
