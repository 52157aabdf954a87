// The audit as one JSON document, for scripts and fleet tools.
#pragma once

#include "audit/audit_report.h"

#include <string>

namespace audit {

// {"schema": 2, "tool", "version", "computer", "time" (UTC, ISO 8601), "account", "elevated", "summary": {"present",
// "absent", "unchecked", "pending_restart", "not_counted"}, "restart_pending", "result" (the verdict:
// "clean", "client-left", "incomplete"), "exit_code", "items": [{"id", "part", "name", "state" ("present",
// "absent", "unchecked", "pending_restart"), "detail", "error", "needs_admin", "counted"}]}, the items in the
// order of the text report. Text that is not valid UTF-8 is written with replacement characters.
std::string json_report(const audit_report& report, const char* version);

} // namespace audit
