// OVClientHelperCLI.exe end to end: the protection-service double installed as a real service under one of
// its two names, the tool run with one command per option, its console and exit code checked, and the bytes
// of each request read back from the double's frame log.
#include "double_control.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

using namespace fltest;

namespace {

const char kFirstName[] = "OrvaneClientProtectionService";
const char kSecondName[] = "orvane_client_protection_svc";

const std::string kUsage = "client helper CLI for Windows - Version 1.1\n"
                           "Copyright (C) 2026 Orvane. All rights reserved.\n\nUsage:\n"
                           "This is tool only useful to uninstall Ferrolink\n\n";
const std::string kUnableToConnect =
    "Unable to connect client protection service, please make sure it has been started.\n";

// Reply encoding for canned answers, in the double's hex.
std::string hex_bytes(const void* data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char byte = static_cast<const unsigned char*>(data)[i];
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}
std::string u8(std::uint8_t value) { return hex_bytes(&value, 1); }
std::string u32(std::uint32_t value) { return hex_bytes(&value, 4); }
std::string narrow_text(const std::string& text) { return hex_bytes(text.c_str(), text.size() + 1); }
std::string wide_text(const std::u16string& text) { return hex_bytes(text.c_str(), (text.size() + 1) * 2); }

process_output run_tool(const std::wstring& arguments, DWORD timeout_ms = 60000)
{
    return run_process(L"\"" + bin_path(L"OVClientHelperCLI.exe") + L"\" " + arguments, L"", timeout_ms);
}

// The double under one of the protection service's names, with its own script and log.
class installed_double {
public:
    installed_double(const char* name, const std::string& script, bool running = true)
        : name_(name), script_(folder_ + unique("script")), log_(folder_ + unique("log"))
    {
        protection_double::uninstall(name_);
        EXPECT_TRUE(protection_double::write_text_file(script_, script));
        std::string why;
        ok_ = protection_double::install(name_, script_, log_, false, &why) &&
              (!running || protection_double::start(name_, &why));
        EXPECT_TRUE(ok_) << why;
    }
    ~installed_double()
    {
        EXPECT_TRUE(protection_double::uninstall(name_));
        ::DeleteFileW(widen(script_).c_str());
        ::DeleteFileW(widen(log_).c_str());
    }
    installed_double(const installed_double&) = delete;
    installed_double& operator=(const installed_double&) = delete;

    bool ok() const { return ok_; }
    std::vector<std::string> log() const { return protection_double::read_lines(log_); }
    std::vector<protection_double::logged_frame> frames(std::uint32_t id) const
    {
        return protection_double::frames_with_id(log(), id);
    }

private:
    static std::string unique(const char* what) { return "\\" + narrow(unique_name(L"cli_")) + "." + what; }

    std::string name_;
    std::string folder_ = protection_double::work_folder();
    std::string script_;
    std::string log_;
    bool ok_ = false;
};

struct command_case {
    const char* label;
    const wchar_t* arguments;
    std::string script;       // answer lines behind the default version line
    std::uint32_t request;    // the one request the command sends (0: none)
    std::string payload_hex;  // its payload
    int exit_code;
    std::string console;
    bool console_tail_only = false;  // the self-tests print machine-dependent lines before their end
};

void PrintTo(const command_case& c, std::ostream* out)
{
    *out << c.label;
}

// A protected-service record whose paths leave ASCII behind.
const std::string kServiceRecordReply =
    u32(1) + u8(1) + u8(0) + narrow_text("D:(A;;GA;;;SY)") + narrow_text("D:(A;;FA;;;BA)") + narrow_text("ovtpsvc") +
    narrow_text("S-1-5-80-7") + wide_text(u"C:\\Pr\u00f6gramme\\\u6771\u4eac\\ovtp.exe") +
    wide_text(u"C:\\Pr\u00f6gramme\\\u6771\u4eac") + "ffff";

const command_case kCommands[] = {
    {"ProtectService", L"-P SERVICE abc", "", 0x1000002, u32(1) + "0101" + narrow_text("abc"), 0, ""},
    {"UnprotectProcessOutsideAscii", L"-u process C:\\\u00e9t\u00e9\\x.exe",
     "on 0x1000003 result 0 locked by policy", 0x1000003,
     u32(1) + "00" + wide_text(u"C:\\\u00e9t\u00e9\\x.exe"), 0,
     "Failed to unprotect: C:\\\xc3\xa9t\xc3\xa9\\x.exe\nlocked by policy\n"},
    {"UnprotectReg", L"-u reg \"HKLM\\SOFTWARE\\OrVANE\\SSL-VPN Ferrolink\\Standalone\"", "on 0x100000B result 0 no",
     0x100000B,
     u32(1) + "00" + "02000080ffffffff" + wide_text(u"SOFTWARE\\OrVANE\\SSL-VPN Ferrolink\\Standalone") + "00" +
         u32(0) + u32(0),
     0, ""},
    {"QueryServicesReport", L"-q -log service", "on 0x1000004 bytes " + kServiceRecordReply, 0x1000004, "01", 0,
     "ovtpsvc\n=============================\n"
     "Binary path: C:\\Pr\xc3\xb6gramme\\\xe6\x9d\xb1\xe4\xba\xac\\ovtp.exe\n"
     "Service level protection: Yes\nProcess level protection: No\nService SID: S-1-5-80-7\n"
     "Current service DACL permissions: D:(A;;GA;;;SY)\n"
     "Reference folder: C:\\Pr\xc3\xb6gramme\\\xe6\x9d\xb1\xe4\xba\xac\n"
     "Current folder DACL permissions: D:(A;;FA;;;BA)\n \n1 services are protected.\n"},
    {"QueryFoldersFails", L"-q folder", "on 0x100000D bytes 0500", 0x100000D, "00", 0, "Command failed.\n"},
    {"PauseRefused", L"-c pause", "on 0x1000006 result 0 busy", 0x1000006, "", 0, "Command failed.\n"},
    {"DSwitchOn", L"-d enable", "", 0x1000096, "01", 0, ""},
    {"ESwitchOff", L"-e disable", "", 0x1000008, "00", 0, ""},
    {"StartServiceWithArguments", L"-s start S a b", "on 0x1000065 result 0 no such service", 0x1000065,
     narrow_text("S") + u32(2) + narrow_text("a") + narrow_text("b"), 0,
     "Failed to start service: S\nno such service\n"},
    {"RecoverKeyDacl", L"-r reg HKLM\\AB", "", 0x100006A,
     u32(1) + "00" + "02000080ffffffff" + wide_text(u"AB") + "00" + u32(0) + u32(0), 0, ""},
    {"ListContainers", L"-f list containers", "on 0x10000CD bytes " + u32(2) + narrow_text("c1") + narrow_text("c2"),
     0x10000CD, "", 0, " \nc1\n \nc2\n \n2 quarantine containers.\n"},
    {"TestMessage", L"-t", "", 0x1000001, "", 0, ""},
    {"SelfTestsCrossCheck", L"-ut service", "protect service ovtpsvc S-1-5-80-7", 0x1000004, "00", 0,
     "query_protected_services successful\nWill not verify SID of 'ovtpsvc'\n", true},
    {"UsageAfterConnecting", L"-p reg HKLM\\AB", "", 0, "", 2, kUsage},
};

class ToolCommand : public ::testing::TestWithParam<command_case> {};

TEST_P(ToolCommand, SendsItsRequestPrintsAndExits)
{
    const command_case& c = GetParam();
    installed_double service(kFirstName, "version 1 5\n" + c.script + "\n");
    ASSERT_TRUE(service.ok());
    const process_output out = run_tool(c.arguments);
    EXPECT_EQ(static_cast<DWORD>(c.exit_code), out.exit_code);
    const std::string shown = c.console_tail_only && out.console.size() >= c.console.size()
                                  ? out.console.substr(out.console.size() - c.console.size())
                                  : out.console;
    EXPECT_EQ(c.console, shown) << out.console;

    // The one request, then the leaving notice; nothing but the version question besides.
    ASSERT_TRUE(eventually([&] { return !service.frames(0x1000000).empty(); })) << out.console;
    for (const protection_double::logged_frame& frame : protection_double::frames_in(service.log())) {
        if (frame.id == 0x1000009 || frame.id == 0x1000000)
            continue;
        EXPECT_EQ(c.request, frame.id) << std::hex << frame.id;
    }
    if (c.request == 0)
        return;
    const auto sent = service.frames(c.request);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(c.payload_hex, sent[0].payload_hex);
}

INSTANTIATE_TEST_SUITE_P(Options, ToolCommand, ::testing::ValuesIn(kCommands),
                         [](const auto& info) { return std::string(info.param.label); });

struct connection_case {
    const char* label;
    const char* installed;  // null: no protection service at all
    bool running;
    std::string script;
    DWORD exit_code;
    std::string console;
};

void PrintTo(const connection_case& c, std::ostream* out)
{
    *out << c.label;
}

const connection_case kConnections[] = {
    {"NoService", nullptr, true, "", 1, kUnableToConnect},
    {"IncompatibleProtocol", kFirstName, true, "version 0 4", 1,
     "Service and client use incompatible IPC protocols.\n"},
    {"SecondName", kSecondName, true, "version 1 5", 0, " \n0 quarantine containers.\n"},
    {"StoppedServiceIsStarted", kFirstName, false, "version 1 5", 0,
     "Client protection service is stopped, trying to re-start the service...\n \n0 quarantine containers.\n"},
    {"ServiceTooOldForQuarantine", kFirstName, true, "version 1 2", 0, "Command failed.\n"},
};

class ToolConnection : public ::testing::TestWithParam<connection_case> {};

TEST_P(ToolConnection, ConnectsLikeTheCleanerOrExitsWith1)
{
    const connection_case& c = GetParam();
    protection_double::uninstall(kFirstName);
    protection_double::uninstall(kSecondName);
    std::unique_ptr<installed_double> service;
    if (c.installed != nullptr)
        service = std::make_unique<installed_double>(c.installed, c.script + "\n", c.running);
    const process_output out = run_tool(L"-f list containers");
    EXPECT_EQ(c.exit_code, out.exit_code);
    EXPECT_EQ(c.console, out.console);
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolConnection, ::testing::ValuesIn(kConnections),
                         [](const auto& info) { return std::string(info.param.label); });

// Usage needs no service: none is installed here, so any connection attempt would print its failure.
TEST(ToolUsage, NoWordsOrHelpAlonePrintTheUsageWithoutConnecting)
{
    protection_double::uninstall(kFirstName);
    protection_double::uninstall(kSecondName);
    const struct {
        const wchar_t* arguments;
        DWORD exit_code;
    } cases[] = {{L"", 2}, {L"-h", 0}, {L"-H", 0}};
    for (const auto& c : cases) {
        const process_output out = run_tool(c.arguments);
        EXPECT_EQ(c.exit_code, out.exit_code) << narrow(c.arguments);
        EXPECT_EQ(kUsage, out.console) << narrow(c.arguments);
    }
}

// The monitor asks for the protocol once a second until the process is ended.
TEST(ToolMonitor, AsksForTheProtocolUntilEnded)
{
    installed_double service(kFirstName, "version 1 5\n");
    ASSERT_TRUE(service.ok());
    const process_output out = run_tool(L"-m", 3500);
    EXPECT_EQ(0xFFFFFFFFu, out.exit_code);
    ASSERT_GE(out.console.size(), 2u) << out.console;
    EXPECT_EQ(std::string::npos, out.console.find_first_not_of(".")) << out.console;
    EXPECT_GE(service.frames(0x1000009).size(), 3u);
}

// The tool asks Windows for elevation and carries the product's version (its banner keeps the tool's own 1.1).
TEST(ToolExecutable, EmbedsTheElevationManifestAndVersion25)
{
    const std::wstring exe = bin_path(L"OVClientHelperCLI.exe");
    EXPECT_NE(std::string::npos, embedded_manifest(exe).find("level=\"requireAdministrator\""));

    VS_FIXEDFILEINFO fixed = {};
    ASSERT_TRUE(version_of(version_block(exe), fixed));
    EXPECT_EQ(MAKELONG(5, 2), fixed.dwFileVersionMS);
    EXPECT_EQ(MAKELONG(5, 2), fixed.dwProductVersionMS);
}

} // namespace
