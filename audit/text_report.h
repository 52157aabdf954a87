// The audit as text for a console: one line per item, then the verdict.
#pragma once

#include "audit/audit_report.h"

#include <string>

namespace audit {

// "present   services: ORVANE_Ferrolink (running)", "unchecked registry: ... (error 5, needs administrator
// rights)"; an item that does not count ends with " [not counted]".
std::string item_line(const audit_item& item);

// A first line with the tool's version, the computer, the time and the account; every item's line; the list of
// what needs administrator rights (if any); and last the verdict with a count per state, one line of at most a
// few hundred characters (Intune shows a detection script's last line).
std::string text_report(const audit_report& report, const char* version);

} // namespace audit
