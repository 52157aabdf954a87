// The packed form in which Windows Installer names its registry keys and values after a GUID.
#pragma once

#include <string>

namespace ferrolink {

// Packs a bare GUID text ("B3A91C47-2E65-4D8F-9C1A-7F04D2E6A853", no braces): the dashes go, the first three
// groups are reversed digit by digit, and the two digits of every remaining byte are swapped. Letter case is
// kept. Returns an empty string when the text is not a bare GUID, so no caller builds a key path from half a code.
std::wstring to_packed_guid(const std::wstring& bare_guid);

// The braced GUID ("{B3A91C47-...}") whose packed form is `packed` (32 hexadecimal digits, as installer key and
// value names hold them). Letter case is kept. Empty when the text is no packed GUID.
std::wstring from_packed_guid(const std::wstring& packed);

} // namespace ferrolink
