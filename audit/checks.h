// One check per part of the client's footprint, in the order the cleaner removes them. Each only reads.
#pragma once

#include "audit/audit_report.h"

#include <string>
#include <vector>

namespace audit {

using audit_items = std::vector<audit_item>;

// Step 1: a running process per image name.
audit_items check_processes();
// Step 2: the maker's protection service under both names, and whether it runs. Not counted: the cleaner
// asks it to let go and never removes it.
audit_items check_protection_services();
// Step 3: the client's two services.
audit_items check_client_services();
// Step 4: network adapters whose first hardware id is one of the client's, and the client's driver packages.
audit_items check_adapters();
audit_items check_driver_packages();
// Step 5: the registered InstallDir, the folder it names, and the default install folder.
audit_items check_install_folder();
// Step 5 for one given folder.
audit_item check_folder(const std::wstring& folder);
// Step 6, rows 1 to 12 with the 32-bit view of row 1, the Run values and the machine's copy of row 12.
audit_items check_client_keys();
// Step 6, rows 13 to 22, the component values of row 23 and the cached package, for every product of the client
// that Windows Installer's records name; Windows Installer's own index of the upgrade family; and the per-user
// index, not counted.
audit_items check_installer_registration();
// Steps 6 and 7 for every other user profile: the client's key in the user's hive, and the Quick Launch shortcut.
audit_items check_user_profile_keys();
audit_items check_user_profile_shortcuts();
// Step 8: any product registered under the client's name.
audit_items check_registered_products();
// Step 7: the program group and the three shortcut files.
audit_items check_shortcuts();

// Every check above, in the order the cleaner removes what they look for.
audit_report run_audit();

} // namespace audit
