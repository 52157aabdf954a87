#include "audit/json_report.h"

#include <nlohmann/json.hpp>

namespace audit {

std::string json_report(const audit_report& report, const char* version)
{
    nlohmann::json items = nlohmann::json::array();
    for (const audit_item& item : report.items) {
        items.push_back({{"part", item.part},
                         {"name", item.name},
                         {"state", state_text(item.state)},
                         {"detail", item.detail},
                         {"error", item.error},
                         {"needs_admin", item.needs_admin},
                         {"counted", item.counted}});
    }
    const verdict result = verdict_of(report);
    const nlohmann::json document = {{"tool", "FerrolinkAudit"},
                                     {"version", version},
                                     {"result", verdict_text(result)},
                                     {"exit_code", exit_code_of(result)},
                                     {"items", items}};
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

} // namespace audit
