// Where another user's AppData folder is: the "AppData" value of the user's own shell folders, expanded for
// that user rather than for the account the cleaner runs as.
#pragma once

#include <string>

namespace ferrolink {

enum class appdata_kind {
    local,       // a folder on a drive of this machine ("C:\...")
    network,     // a share ("\\server\share\..."): never walked
    unresolved,  // a variable only the user's own logon defines, a relative or device path: never walked
};

struct appdata_location {
    appdata_kind kind = appdata_kind::unresolved;
    std::wstring path;  // expanded, without trailing backslashes; for unresolved, the value as read
};

// Expands `value` (the REG_EXPAND_SZ as read, unexpanded) for the user: %USERPROFILE% is `profile_folder`;
// %SystemRoot% and %windir% are `windows_folder`, %SystemDrive% its drive, the same for every account. Every
// other variable (%HOMEDRIVE%, %USERNAME%, %APPDATA%...) would be the running account's, so a value that
// names one is unresolved. Variable names ignore letter case; a lone "%" is part of the name.
appdata_location resolve_appdata(const std::wstring& value, const std::wstring& profile_folder,
                                 const std::wstring& windows_folder);

} // namespace ferrolink
