// Step 6 for per-user installations of the client (managed or not), of any user.
#pragma once

#include "footprint/user_installations.h"

#include <vector>

namespace cleaner {

// Deletes the per-user installations of the client (ferrolink::client_user_installations): each one's
// registration in the user's hive and below Managed, its user data and component references, then its patches
// and its cached package. A user whose hive cannot be reached keeps the installation whole. False when any
// installation (or a patch of it) stays registered.
[[nodiscard]] bool delete_user_installations(const std::vector<ferrolink::user_installation>& installations);

} // namespace cleaner
