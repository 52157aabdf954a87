// The "-ut service" self-tests against the real Service Control Manager and a real COM registration: test
// services under some of the client's and the agent's fixed names, the SentinelOne object double registered
// or not, and a helper that answers the protected-services query from a table.
#include "fake_client/services.h"
#include "helper_cli/self_test_tables.h"
#include "helper_cli/self_tests.h"
#include "self_test_support.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <regex>

using namespace fltest;

namespace {

struct installed_service {
    const wchar_t* name;
    DWORD type;
    DWORD start_type;
    bool running;
};

// ovtpsvc, ovcfdrv, SFPMonitor and the other two agent names stay absent.
const installed_service kServices[] = {
    {L"SentinelAgent", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, true},
    {L"LogProcessorService", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, false},
    {L"ovenfsvc", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, true},
    {L"ovlogsvc", SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_AUTO_START, false},
    {L"ovwpsvc", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, false},
    {L"OrvaneClientProtectionService", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, true},
};

// Every line a run prints around the agent-status and cross-check parts; PIDs of running services read "n".
const std::string kAgentServices = "====================Unit test S1 services process status====================\n"
                                   "SentinelAgent is running. ServiceType: 0x10 ControlsAccepted: 0x1 PID n\n"
                                   "LogProcessorService is running. ServiceType: 0x10 ControlsAccepted: 0x0 PID 0\n";
const std::string kAgentStatusHead = "==================== Unit test S1 agent status ===========================\n"
                                     "Checking whether S1 service installed...\n"
                                     "SentinelAgent is installed\n"
                                     "SentinelAgent is running\n";
const std::string kClientServices =
    "==================== Unit test orvane services process status ====================\n"
    "ovenfsvc is running. ServiceType: 0x10 ControlsAccepted: 0x1 PID n\n"
    "ovlogsvc is running. ServiceType: 0x110 ControlsAccepted: 0x0 PID 0\n"
    "ovwpsvc is running. ServiceType: 0x10 ControlsAccepted: 0x0 PID 0\n"
    "OrvaneClientProtectionService is running. ServiceType: 0x10 ControlsAccepted: 0x1 PID n\n"
    "==================== Unit test orvane services process config====================\n";

const std::string kDefaultStatus = "{\"agentVersion\":\"test\",\"infected\":false,\"networkStatus\":\"connected\"}";

std::string with_pids_hidden(const std::string& text)
{
    return std::regex_replace(text, std::regex("PID [1-9][0-9]*"), "PID n");
}

protected_service record(const char* name, const char* sid)
{
    protected_service service;
    service.service_name = name;
    service.service_sid = sid;
    return service;
}

// test_service.exe under the case's name, created with its type and start type (a type changed later keeps
// the old one in the status Wine reports).
void install(const installed_service& service)
{
    const std::wstring binary = L"\"" + bin_path(L"test_service.exe") + L"\"";
    const mcl::mswin::unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const mcl::mswin::unique_schandle handle(::CreateServiceW(
        manager.get(), service.name, service.name, SERVICE_ALL_ACCESS, service.type, service.start_type,
        SERVICE_ERROR_IGNORE, binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(handle) << ::GetLastError();
    if (!service.running)
        return;
    ASSERT_TRUE(::StartServiceW(handle.get(), 0, nullptr)) << ::GetLastError();
    ASSERT_TRUE(fake_client::wait_for_service_state(service.name, SERVICE_RUNNING, 10000));
}

// Stands in for the SID Windows would give a service, so that the comparison itself runs where the
// virtual-account lookup cannot (Wine).
void know_sid(const char* name, const char* text)
{
    PSID sid = nullptr;
    ASSERT_TRUE(::ConvertStringSidToSidA(text, &sid));
    service_sid_table.emplace(name, mcl::mswin::unique_hlocal(sid));
}

class SelfTests : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        sentinel_registration::remove();
        for (const installed_service& service : kServices)
            install(service);
    }

    static void TearDownTestSuite()
    {
        for (const installed_service& service : kServices)
            EXPECT_EQ(0u, fake_client::remove_service(service.name));
    }

    std::string run()
    {
        captured_stdout out;
        run_self_tests(&helper_);
        return with_pids_hidden(out.text());
    }

    query_only_helper helper_;
};

struct agent_case {
    const char* label;
    bool registered;
    const wchar_t* reply;  // SENTINEL_DOUBLE_REPLY, null: unset
    std::string printed;   // between the checking lines and the client services' banner
    bool server_missing = false;  // the registration names a DLL that is not there
};

const agent_case kAgentCases[] = {
    {"NotRegistered", false, nullptr, "CLSIDFromProgID failed on SentinelHelper.1, error: 0x800401F3\n"},
    {"DefaultText", true, nullptr,
     "SentinelOne status: " + kDefaultStatus + "\nTest S1 agent status successfully.\n"},
    {"TextOutsideAsciiAsUtf8", true, L"{\"site\":\"Z\u00fcrich \u6771\u4eac\"}",
     "SentinelOne status: {\"site\":\"Z\xc3\xbcrich \xe6\x9d\xb1\xe4\xba\xac\"}\n"
     "Test S1 agent status successfully.\n"},
    {"InvokeFails", true, L"!fail", "Failed to invoke GetAgentStatusJSON, error: 0x80004005\n"},
    {"AnswerIsNoText", true, L"!empty", "GetAgentStatusJSON returned no text, error: 0x80020005\n"},
    {"MethodUnknown", true, L"!noname", "GetIDsOfNames failed on GetAgentStatusJSON, error: 0x80020006\n"},
    // No server of the requested contexts could be loaded: Wine reports the class as not registered.
    {"ServerMissing", true, nullptr, "CoCreateInstance failed on sentinelHelperCLSID, error: 0x80040154\n", true},
};

void point_server_at_missing_file()
{
    wchar_t class_text[64] = {};
    DWORD bytes = sizeof(class_text);
    ASSERT_EQ(ERROR_SUCCESS, ::RegGetValueW(HKEY_CLASSES_ROOT, L"SentinelHelper.1\\CLSID", nullptr, RRF_RT_REG_SZ,
                                            nullptr, class_text, &bytes));
    const std::wstring server_key = std::wstring(L"CLSID\\") + class_text + L"\\InprocServer32";
    const std::wstring missing = bin_path(L"no_such_server.dll");
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_CLASSES_ROOT, server_key.c_str(), nullptr, REG_SZ,
                                               missing.c_str(),
                                               static_cast<DWORD>((missing.size() + 1) * sizeof(wchar_t))));
}

void PrintTo(const agent_case& c, std::ostream* out)
{
    *out << c.label;
}

class AgentStatus : public SelfTests, public ::testing::WithParamInterface<agent_case> {};

TEST_P(AgentStatus, PrintsTheAgentPartBetweenTheServiceParts)
{
    const agent_case& c = GetParam();
    ::SetEnvironmentVariableW(L"SENTINEL_DOUBLE_REPLY", c.reply);
    helper_.answers = false;
    std::string printed;
    if (c.registered) {
        sentinel_registration registration;
        ASSERT_TRUE(registration.registered());
        if (c.server_missing)
            point_server_at_missing_file();
        printed = run();
    } else {
        printed = run();
    }
    EXPECT_EQ(kAgentServices + kAgentStatusHead + c.printed + kClientServices +
                  "Command 'query_protected_services' fails\n",
              printed);
    EXPECT_EQ(1, helper_.queries);
}

INSTANTIATE_TEST_SUITE_P(Cases, AgentStatus, ::testing::ValuesIn(kAgentCases),
                         [](const auto& info) { return std::string(info.param.label); });

// Only the two automatically started own-process services are compared; under Wine their virtual-account
// lookup fails (1332), so a known SID stands in for one of them to reach the comparison.
TEST_F(SelfTests, CrossCheckComparesOnlyAutoStartOwnProcessServices)
{
    know_sid("ovenfsvc", "S-1-5-80-11-22-33");
    know_sid("ovwpsvc", "S-1-5-80-44-55-66");
    helper_.records = {record("ovenfsvc", "S-1-5-80-11-22-33"), record("ovlogsvc", "S-1-5-80-1"),
                       record("ovwpsvc", "S-1-5-80-44-55-67"), record("OrvaneClientProtectionService", ""),
                       record("ovtpsvc", "S-1-5-80-2"), record("NotOneOfOurs", "S-1-5-80-3")};
    const std::string printed = run();
    const std::string tail = "query_protected_services successful\n"
                             "ovenfsvc SID matches the SID from CPS\n"
                             "Will not verify SID of 'ovlogsvc'\n"
                             "ovwpsvc SID does not match the SID from CPS\n"
                             "Will not verify SID of 'OrvaneClientProtectionService'\n"
                             "Will not verify SID of 'ovtpsvc'\n"
                             "Will not verify SID of 'NotOneOfOurs'\n";
    ASSERT_GE(printed.size(), tail.size());
    EXPECT_EQ(tail, printed.substr(printed.size() - tail.size())) << printed;
    ASSERT_TRUE(service_config_table.count("ovlogsvc"));
    EXPECT_EQ(0x110u, service_config_table["ovlogsvc"].service_type);
}

// Without a stand-in the SID of a verifiable service comes from Windows; where the lookup fails, as under
// Wine, the line says the conversion failed.
TEST_F(SelfTests, AServiceWithoutASidReportsTheConversionFailure)
{
    helper_.records = {record("ovenfsvc", "S-1-5-80-11-22-33")};
    const std::string printed = run();
    const bool looked_up = service_sid_table.count("ovenfsvc") != 0;
    const std::string expected = looked_up ? "ovenfsvc SID does not match the SID from CPS\n"
                                           : "ovenfsvc ConvertSidToStringSid fails\n";
    EXPECT_NE(std::string::npos, printed.find("query_protected_services successful\n" + expected)) << printed;
}

// A caller that already set up a single-threaded apartment keeps it: the self-tests' own initialisation
// fails with RPC_E_CHANGED_MODE and must not be undone.
TEST_F(SelfTests, KeepsTheCallersApartment)
{
    ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ASSERT_EQ(RPC_E_CHANGED_MODE, ::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    helper_.answers = false;
    run();
    EXPECT_EQ(S_FALSE, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ::CoUninitialize();
    ::CoUninitialize();
}

// Whatever answers on the protection service's pipes names the services, and the agent's object writes its
// status: neither gets a line of its own onto the console, nor a terminal escape.
TEST_F(SelfTests, NamesFromTheServiceAndTheAgentStatusCannotForgeLines)
{
    ::SetEnvironmentVariableW(L"SENTINEL_DOUBLE_REPLY", L"{}\r\nTest S1 agent status successfully.\x1b[2J\x9b" L"0m");
    helper_.records = {record("x'\novenfsvc SID matches the SID from CPS\n\x1b]0;owned\x07\xc2\x9b", "S-1-5-80-1")};
    std::string printed;
    {
        sentinel_registration registration;
        ASSERT_TRUE(registration.registered());
        printed = run();
    }
    ::SetEnvironmentVariableW(L"SENTINEL_DOUBLE_REPLY", nullptr);

    const std::string r = "\xEF\xBF\xBD";
    const std::string status = "\nSentinelOne status: {}" + r + r + "Test S1 agent status successfully." + r + "[2J" +
                               r + "0m\nTest S1 agent status successfully.\n" + kClientServices;
    EXPECT_NE(std::string::npos, printed.find(status)) << printed;
    const std::string tail = "\nWill not verify SID of 'x'" + r + "ovenfsvc SID matches the SID from CPS" + r + r +
                             "]0;owned" + r + r + "'\n";
    ASSERT_GE(printed.size(), tail.size());
    EXPECT_EQ(tail, printed.substr(printed.size() - tail.size())) << printed;
}

} // namespace
