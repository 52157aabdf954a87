// The audit as text for a console: one line per item, then the verdict.
#pragma once

#include "audit/audit_report.h"

#include <string>

namespace audit {

// "present   services: ORVANE_Ferrolink (running)", "unchecked registry: ... (error 5, needs administrator
// rights)"; an item that does not count ends with " [not counted]".
std::string item_line(const audit_item& item);

// Every item's line, the list of what needs administrator rights (if any), and the verdict line.
std::string text_report(const audit_report& report);

} // namespace audit
