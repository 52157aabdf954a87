#include "helper_cli/self_tests.h"

#include "helper_cli/agent_status.h"
#include "helper_cli/console_output.h"
#include "helper_cli/self_test_tables.h"
#include "helper_cli/service_status.h"

#include "mcl/buffer.h"
#include "mcl/mswin/service.h"
#include "mcl/mswin/unique_resource.h"

#include <sddl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using mcl::mswin::com_apartment;
using mcl::mswin::unique_hlocal;
namespace service = mcl::mswin::service;

void print_line(const char* text)
{
    std::printf("%s", text);
    std::fflush(stdout);
}

// Names come from the service's reply: they are shown through the console filter.
void print_named(const char* format, const std::string& name)
{
    std::printf(format, helper_cli::printable(name).c_str());
    std::fflush(stdout);
}

void agent_services()
{
    print_line("====================Unit test S1 services process status====================\n");
    for (const std::string& name : agent_service_names)
        print_service_status(name.c_str());
}

void agent_status()
{
    print_line("==================== Unit test S1 agent status ===========================\n");
    const com_apartment apartment(COINIT_MULTITHREADED);
    print_line("Checking whether S1 service installed...\n");
    const std::string agent = "SentinelAgent";
    if (service::is_installed(agent.c_str()))
        print_named("%s is installed\n", agent);
    if (service::is_running(agent.c_str()))
        print_named("%s is running\n", agent);
    std::string status;
    if (query_agent_status(status))
        print_line("Test S1 agent status successfully.\n");
}

void client_services()
{
    print_line("==================== Unit test orvane services process status ====================\n");
    for (const std::string& name : protected_service_names)
        print_service_status(name.c_str());
}

void learn_config_and_sid(const std::string& name)
{
    bool exists = false;
    mcl::binary_t config;
    if (service::query_config(name.c_str(), exists, config)) {
        const QUERY_SERVICE_CONFIGA* record = service::config_record(config);
        if (record != nullptr)
            service_config_table.emplace(name, service_config_entry{record->dwServiceType, record->dwStartType});
    }
    unique_hlocal sid;
    if (service::get_sid(name.c_str(), &sid))
        service_sid_table.emplace(name, std::move(sid));
}

void client_configs()
{
    print_line("==================== Unit test orvane services process config====================\n");
    for (const std::string& name : protected_service_names)
        learn_config_and_sid(name);
}

// Only an automatically started own-process service has a virtual account whose SID the protection service
// can have recorded.
bool verifiable(const std::string& name)
{
    const auto entry = service_config_table.find(name);
    return entry != service_config_table.end() && entry->second.service_type == SERVICE_WIN32_OWN_PROCESS &&
           entry->second.start_type == SERVICE_AUTO_START;
}

void check_sid(const protected_service& record)
{
    const std::string& name = record.service_name;
    if (!verifiable(name)) {
        print_named("Will not verify SID of '%s'\n", name);
        return;
    }
    const auto sid = service_sid_table.find(name);
    char* raw_text = nullptr;
    if (sid == service_sid_table.end() || !::ConvertSidToStringSidA(sid->second.get(), &raw_text)) {
        print_named("%s ConvertSidToStringSid fails\n", name);
        return;
    }
    const unique_hlocal text_block(raw_text);
    if (raw_text == nullptr || raw_text[0] == '\0') {
        print_named("%s ConvertSidToStringSid fails\n", name);
        return;
    }
    if (record.service_sid == raw_text)
        print_named("%s SID matches the SID from CPS\n", name);
    else
        print_named("%s SID does not match the SID from CPS\n", name);
}

void cross_check_sids(iovchelper* helper)
{
    std::vector<protected_service> records;
    if (helper == nullptr || !helper->query_protected_services(0, records)) {
        print_line("Command 'query_protected_services' fails\n");
        return;
    }
    print_line("query_protected_services successful\n");
    for (const protected_service& record : records)
        check_sid(record);
}

} // namespace

void run_self_tests(iovchelper* helper)
{
    agent_services();
    agent_status();
    client_services();
    client_configs();
    cross_check_sids(helper);
}
