// Where another user's Quick Launch shortcut (shortcut row 3) is: below the user's AppData folder, which the
// user's own shell folders may redirect, reached without passing a link.
#pragma once

#include "footprint/appdata_path.h"
#include "footprint/user_profiles.h"
#include "mcl/mswin/unique_resource.h"

#include <string>

namespace ferrolink {

// The user's AppData folder: the "AppData" value of "User Shell Folders" in the user's `hive` (a reachable one),
// expanded for that user (see resolve_appdata); the profile's AppData\Roaming when the value is absent or no
// hive is given. A folder on a drive that is remote for this machine counts as a network path; one on a drive
// this machine does not have (a drive the user maps at logon) as unresolved.
appdata_location user_appdata(const user_profile& profile, const user_hive* hive);

// The shortcut's path below that AppData folder, as the log names it.
std::wstring quick_launch_shortcut_path(const appdata_location& appdata);

// Opens the Quick Launch folder below a local AppData folder. The profile folder must pass the profile guard;
// an AppData folder inside it is walked down from it, one elsewhere from its volume's root; neither it nor any
// folder on the way may be a link. 0; ERROR_PATH_NOT_FOUND when a folder on the way is missing;
// ERROR_BAD_PATHNAME when the profile folder is refused, a folder on the way is a link, or AppData is not local;
// or the error of an open.
DWORD open_quick_launch_folder(const user_profile& profile, const appdata_location& appdata,
                               mcl::mswin::unique_handle& folder);

} // namespace ferrolink
