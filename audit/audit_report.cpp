#include "audit/audit_report.h"

namespace audit {

verdict verdict_of(const audit_report& report)
{
    bool unchecked = false;
    for (const audit_item& item : report.items) {
        if (!item.counted || item.state == item_state::pending_restart)
            continue;
        if (item.state == item_state::present)
            return verdict::client_left;
        if (item.state == item_state::unchecked)
            unchecked = true;
    }
    return unchecked ? verdict::incomplete : verdict::clean;
}

state_summary summary_of(const audit_report& report)
{
    state_summary summary;
    for (const audit_item& item : report.items) {
        if (item.state == item_state::pending_restart)
            ++summary.pending_restart;
        else if (!item.counted)
            ++summary.not_counted;
        else if (item.state == item_state::present)
            ++summary.present;
        else if (item.state == item_state::absent)
            ++summary.absent;
        else
            ++summary.unchecked;
    }
    return summary;
}

int exit_code_of(verdict result)
{
    switch (result) {
    case verdict::clean: return 0;
    case verdict::client_left: return 1;
    case verdict::incomplete: return 2;
    }
    return 2;
}

const char* state_text(item_state state)
{
    switch (state) {
    case item_state::present: return "present";
    case item_state::absent: return "absent";
    case item_state::unchecked: return "unchecked";
    case item_state::pending_restart: return "pending restart";
    }
    return "unchecked";
}

const char* state_token(item_state state)
{
    return state == item_state::pending_restart ? "pending_restart" : state_text(state);
}

const char* verdict_text(verdict result)
{
    switch (result) {
    case verdict::clean: return "clean";
    case verdict::client_left: return "client-left";
    case verdict::incomplete: return "incomplete";
    }
    return "incomplete";
}

} // namespace audit
