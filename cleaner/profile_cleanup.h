// Every other user's share of the client: row 5's key in each user's hive (step 6) and shortcut row 3 in each
// profile (step 7). The running account's own are the rows themselves.
#pragma once

namespace cleaner {

// Deletes the client's key from the hive of every other user profile: the hive loaded while the user is logged
// on, else the profile's hive file loaded for the purpose and unloaded at once. A hive that cannot be loaded is
// logged and skipped. One log line per profile where something was found.
void delete_profile_keys();

// Deletes the client's Quick Launch shortcut from every other user profile that passes the profile guard.
// 1 when none failed (missing shortcuts and refused profiles included), 0 otherwise; one log line per profile
// where a shortcut was found.
[[nodiscard]] int delete_profile_shortcuts();

} // namespace cleaner
