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

// Where and when the audit ran, and as whom: what a fleet pipeline needs to file one machine's answer.
struct audit_context {
    std::string computer;   // the computer's host name, UTF-8
    std::string account;    // the account the audit ran under, "DOMAIN\name" (or its SID), UTF-8
    bool elevated = false;  // whether it ran with administrator rights
    std::string time;       // when it ran, UTC, ISO 8601 ("2026-05-04T09:30:00Z")
};

struct audit_report {
    audit_context context;
    std::vector<audit_item> items;
};

// Every item in exactly one bucket: the items that count, by state; every item pending restart (none counts);
// the other items shown for information only.
struct state_summary {
    unsigned present = 0;
    unsigned absent = 0;
    unsigned unchecked = 0;
    unsigned pending_restart = 0;
    unsigned not_counted = 0;
};

state_summary summary_of(const audit_report& report);

enum class verdict { clean, client_left, incomplete };

// Something of the client left wins over what could not be checked: the answer "left" is certain then.
verdict verdict_of(const audit_report& report);

// 0 clean, 1 something of the client is left, 2 the audit could not tell.
int exit_code_of(verdict result);

// The state as the text report writes it ("pending restart"), and as a token for the JSON ("pending_restart").
const char* state_text(item_state state);
const char* state_token(item_state state);
const char* verdict_text(verdict result);

} // namespace audit
