// The account this process runs as: the user of its token.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace mcl::mswin {

// A copy of the SID of the process token's user, to pass as a PSID (`data()`); empty when the token cannot be read.
std::vector<unsigned char> process_user_sid();

// The SID as text ("S-1-5-21-..."); empty when it cannot be converted.
std::wstring sid_text(PSID sid);

} // namespace mcl::mswin
