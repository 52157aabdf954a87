// Step 8: a Windows Installer product registered under the client's name, whatever its product code.
#pragma once

#include <windows.h>

namespace cleaner {

// Deletes the first registration in HKCR\Installer\Products whose ProductName is exactly "Orvane Ferrolink" and
// then asks for a restart. 1 when none is registered or it was deleted; 0 when the products key cannot be
// opened, the deletion failed, or the walk stopped at its bound (ferrolink::kMostProductKeys) before finding one.
[[nodiscard]] int check_installer_registration();

// The same with a bound of the caller's: when more keys are registered and none looked at carries the name, the
// step fails, since it cannot tell that none is left.
[[nodiscard]] int check_installer_registration_bounded(DWORD most_product_keys);

} // namespace cleaner
