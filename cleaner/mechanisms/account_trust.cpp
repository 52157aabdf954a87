#include "cleaner/mechanisms/account_trust.h"

#include "mcl/mswin/process_user.h"

#include <cstring>
#include <iterator>
#include <vector>

namespace cleaner {

namespace {

// NT SERVICE\TrustedInstaller, S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464: it owns the
// system's own folders.
const DWORD kTrustedInstaller[] = {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464};

bool is_trusted_installer(PSID sid)
{
    const SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
    if (std::memcmp(::GetSidIdentifierAuthority(sid)->Value, nt_authority.Value, sizeof(nt_authority.Value)) != 0 ||
        *::GetSidSubAuthorityCount(sid) != std::size(kTrustedInstaller))
        return false;
    for (DWORD i = 0; i < std::size(kTrustedInstaller); ++i) {
        if (*::GetSidSubAuthority(sid, i) != kTrustedInstaller[i])
            return false;
    }
    return true;
}

} // namespace

bool is_run_account(PSID sid)
{
    std::vector<unsigned char> user = mcl::mswin::process_user_sid();
    return !user.empty() && ::EqualSid(sid, user.data());
}

bool is_administrative_account(PSID sid)
{
    if (sid == nullptr || !::IsValidSid(sid))
        return false;
    return ::IsWellKnownSid(sid, WinLocalSystemSid) || ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           is_trusted_installer(sid) || is_run_account(sid);
}

} // namespace cleaner
