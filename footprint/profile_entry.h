// Which entries of the machine's profile list are user profiles to walk, and why the others are left alone.
#pragma once

#include <string>

namespace ferrolink {

enum class profile_skip {
    none,               // walked
    not_a_sid,          // the entry's name is no SID
    service_account,    // LocalSystem, LocalService, NetworkService
    backup_entry,       // "<SID>.bak": the copy Windows keeps while the user gets a temporary profile
    temporary_profile,  // State marks a temporary profile, deleted at logoff
    backup_profile,     // State marks the entry as a backup of the user's profile
};

// The "State" bits that mark an entry as not the user's own profile: a temporary profile assigned at logon,
// and the backup Windows keeps of a profile it could not load. Every other bit describes a profile in use
// (mandatory, roaming, new, slow link...), which is walked.
const unsigned long kProfileStateTemporary = 0x0800;
const unsigned long kProfileStateBackup = 0x8000;

// Why the entry named `name` (the key name below ProfileList) with the "State" value `state` (0 when it has
// none) is not walked. Any well-formed SID other than the three service accounts is a user's: local and domain
// accounts (S-1-5-21-) and cloud accounts (S-1-12-1-) alike.
profile_skip profile_entry_skip(const std::wstring& name, unsigned long state);

// What the run log and the audit say of a skipped entry: "a service account"; empty for `none`.
const char* profile_skip_reason(profile_skip skip);

} // namespace ferrolink
