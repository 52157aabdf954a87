// The audit as one JSON document, for scripts and fleet tools.
#pragma once

#include "audit/audit_report.h"

#include <string>

namespace audit {

// {"tool", "version", "result", "exit_code", "items": [{"part", "name", "state", "detail", "error",
// "needs_admin", "counted"}]}, the items in the order of the text report. Text that is not valid UTF-8 is
// written with replacement characters.
std::string json_report(const audit_report& report, const char* version);

} // namespace audit
