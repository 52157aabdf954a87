#pragma once

namespace cleaner {

// Step 7: deletes the client's Start-menu program group and its three shortcut files (Start menu,
// Quick Launch, desktop), then every other user's Quick Launch shortcut (shortcuts_other_users.h). 1 on success
// (missing shortcut files included), 0 on the first failure.
[[nodiscard]] int delete_shortcuts();

} // namespace cleaner
