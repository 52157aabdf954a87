// Step 6: the client's registry data and its Windows Installer registration.
#pragma once

namespace cleaner {

// Deletes the client's keys (both views of its product key, the machine's copies of its classes keys), its Run
// values, its key in every other user's hive, then the installer registration of every product of the client
// that any of Windows Installer's records still names (per machine, then every user's own), and the installer's
// index of the upgrade family. A product's cached package, patches and folder go only after its keys.
// `automatic` keeps the saved connection profiles. The result is 0 when a product of the client stays
// registered (its cached package is kept for it), a user's hive stayed loaded or a user's key tree was left
// unfinished at its bound, else 1; other failures are only logged.
[[nodiscard]] int delete_registry_data(bool automatic);

} // namespace cleaner
