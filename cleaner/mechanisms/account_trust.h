// Accounts whose files and folders an elevated run may rely on: none of them is a standard user.
#pragma once

#include <windows.h>

namespace cleaner {

// The account this run uses (its token's user).
bool is_run_account(PSID sid);

// SYSTEM, Administrators, TrustedInstaller, or the account this run uses.
bool is_administrative_account(PSID sid);

} // namespace cleaner
