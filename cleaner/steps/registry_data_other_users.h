// Step 6 for every other user: row 5's key in each user's hive. The running account's own is the row itself.
#pragma once

namespace cleaner {

// How much the deletion of one user's key may do before it stops: no client writes a key tree anywhere near
// this, but a logged-on user can keep one growing for as long as the deletion runs.
const unsigned long kUserKeyMostKeys = 10000;
const unsigned long kUserKeyMostMs = 30000;

// Deletes the client's key from the hive of every other user profile: the hive loaded while the user is logged
// on, else the profile's hive file loaded for the purpose, flushed and unloaded at once. Skipped profile entries
// are logged with the reason, and every outcome for a user's key but "not found" is logged, one line per
// profile. A hive an earlier run left loaded under this program's name is unloaded first. False when a hive
// stayed loaded or a key tree was left unfinished at the bound.
[[nodiscard]] bool delete_profile_keys();

} // namespace cleaner
