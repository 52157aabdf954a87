#pragma once

namespace cleaner {

// Enables, in this process's token, the one privilege the run needs that an elevated administrator holds
// disabled: SeDebugPrivilege, without which the client's processes of another account (the user's FLGui.exe
// when a help-desk administrator elevates with their own account) cannot be opened for termination.
// False when the token does not hold it; the run goes on and step 1 reports what it cannot stop.
bool enable_run_privileges();

} // namespace cleaner
