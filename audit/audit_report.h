// What the audit found: one item per part of the client's footprint, and the verdict they add up to.
#pragma once

#include <string>
#include <vector>

namespace audit {

// pending_restart: still there, but registered with Windows for deletion at the next restart; never counted.
enum class item_state { present, absent, unchecked, pending_restart };

struct audit_item {
    // Stable across runs and versions, for fleet pipelines that follow one item over time: the part and what
    // identifies the item within it, such as "service:ORVANE_Ferrolink", "registry:row2",
    // "profile:<SID>:key". Empty until the check that made the item gives it one.
    std::string id;
    std::string part;           // the part of the footprint: "processes", "services", "registry"...
    std::string name;           // what was looked for, UTF-8: an image name, a service, a key, a path
    item_state state = item_state::absent;
    std::string detail;         // what was seen, UTF-8: a service state, a path; may be empty
    unsigned long error = 0;    // the Windows error when the item could not be checked
    bool needs_admin = false;   // refused to this standard user; an administrator could read it
    bool counted = true;        // false: shown for information, never the client's leftover
};

struct audit_report {
    std::vector<audit_item> items;
};

enum class verdict { clean, client_left, incomplete };

// Something of the client left wins over what could not be checked: the answer "left" is certain then.
verdict verdict_of(const audit_report& report);

// 0 clean, 1 something of the client is left, 2 the audit could not tell.
int exit_code_of(verdict result);

const char* state_text(item_state state);
const char* verdict_text(verdict result);

} // namespace audit
