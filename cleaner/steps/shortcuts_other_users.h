// Step 7 for every other user: shortcut row 3 below each user's AppData folder. The running account's own is the
// row itself.
#pragma once

namespace cleaner {

// Deletes the client's Quick Launch shortcut below every walked user's AppData folder, as the user's own shell
// folders name it. 1 when none failed (missing shortcuts, refused profiles and AppData on the network included),
// 0 otherwise; one log line per profile where a shortcut was found or AppData was not walked.
[[nodiscard]] int delete_profile_shortcuts();

} // namespace cleaner
