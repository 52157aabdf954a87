// Step 8: a Windows Installer product registered under the client's name, whatever its product code.
#pragma once

#include <windows.h>

namespace cleaner {

// Deletes the first registration in HKCR\Installer\Products whose ProductName is exactly "Orvane Ferrolink" and
// then asks for a restart. 1 when none is registered or it was deleted; 0 when the products key cannot be
// opened or the deletion failed.
[[nodiscard]] int check_installer_registration();

} // namespace cleaner
