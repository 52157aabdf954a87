#include "audit/json_report.h"

#include <nlohmann/json.hpp>

namespace audit {

namespace {

// Raised when a field is added, renamed or changes its meaning.
const int kSchema = 2;

nlohmann::json summary_json(const state_summary& summary)
{
    return {{"present", summary.present},
            {"absent", summary.absent},
            {"unchecked", summary.unchecked},
            {"pending_restart", summary.pending_restart},
            {"not_counted", summary.not_counted}};
}

} // namespace

std::string json_report(const audit_report& report, const char* version)
{
    nlohmann::json items = nlohmann::json::array();
    for (const audit_item& item : report.items) {
        items.push_back({{"id", item.id},
                         {"part", item.part},
                         {"name", item.name},
                         {"state", state_token(item.state)},
                         {"detail", item.detail},
                         {"error", item.error},
                         {"needs_admin", item.needs_admin},
                         {"counted", item.counted}});
    }
    const verdict result = verdict_of(report);
    const state_summary summary = summary_of(report);
    const nlohmann::json document = {{"schema", kSchema},
                                     {"tool", "FerrolinkAudit"},
                                     {"version", version},
                                     {"computer", report.context.computer},
                                     {"time", report.context.time},
                                     {"account", report.context.account},
                                     {"elevated", report.context.elevated},
                                     {"summary", summary_json(summary)},
                                     {"restart_pending", summary.pending_restart > 0},
                                     {"result", verdict_text(result)},
                                     {"exit_code", exit_code_of(result)},
                                     {"items", items}};
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

} // namespace audit
