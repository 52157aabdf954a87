// The self-tests' process-wide name lists and what they learn about those services. The tables are filled
// by the configuration step of run_self_tests, never emptied, and an insertion keeps an existing entry, so a
// later run in the same process keeps what the first run found.
#pragma once

#include "mcl/mswin/unique_resource.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The client's services whose status, configuration and SIDs the self-tests read.
extern const std::vector<std::string> protected_service_names;

// The SentinelOne agent's services.
extern const std::vector<std::string> agent_service_names;

struct service_config_entry {
    std::uint32_t service_type = 0;
    std::uint32_t start_type = 0;
};

extern std::map<std::string, service_config_entry> service_config_table;

// Name to the SID block of the service's virtual account, owned by the table.
extern std::map<std::string, mcl::mswin::unique_hlocal> service_sid_table;
