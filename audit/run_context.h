// Where, when and as whom the audit runs.
#pragma once

#include "audit/audit_report.h"

namespace audit {

// The computer's host name, the account and whether it is elevated, and the time now in UTC. A name Windows
// does not give is left empty.
audit_context current_context();

} // namespace audit
