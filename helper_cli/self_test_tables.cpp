#include "helper_cli/self_test_tables.h"

const std::vector<std::string> protected_service_names = {
    "ovenfsvc", "ovlogsvc", "ovtpsvc", "ovwpsvc", "OrvaneClientProtectionService", "ovcfdrv", "SFPMonitor"};

const std::vector<std::string> agent_service_names = {"SentinelAgent", "SentinelHelperService",
                                                      "LogProcessorService", "SentinelStaticEngine"};

std::map<std::string, service_config_entry> service_config_table;
std::map<std::string, mcl::mswin::unique_hlocal> service_sid_table;
