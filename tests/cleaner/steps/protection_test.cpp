// Step 2 against the protection-service double, installed as a real service under the protection service's
// first name, its second, both or neither: whole runs of FerrolinkCleaner.exe (console, run log, and the frames
// each double received), and the step called in this process (nothing left behind).
#include "captured_log.h"
#include "captured_mcl_log.h"
#include "cleaner/steps/protection.h"
#include "double_control.h"
#include "log_lines.h"
#include "mcl/mswin/unique_resource.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

using namespace fltest;

namespace {

const char kFirstName[] = "OrvaneClientProtectionService";
const char kSecondName[] = "orvane_client_protection_svc";

// What the double guards in the demo, and what step 2 asks it to release.
const std::string kGuarding = "protect service ORVANE_Ferrolink\n"
                              "protect reg HKLM SOFTWARE\\OrVANE\\SSL-VPN Ferrolink\\Standalone\n";

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

// The two unprotect requests, spelled out byte by byte: one record, flags 0, the name; one record, flag 0, the
// root HKEY_LOCAL_MACHINE, the subkey in UTF-16LE, empty owner, empty list, option 0.
std::string service_request()
{
    return "01000000" "00" "00" + hex("ORVANE_Ferrolink") + "00";
}

std::string registry_request()
{
    std::string subkey;
    for (char c : std::string("SOFTWARE\\OrVANE\\SSL-VPN Ferrolink\\Standalone"))
        subkey += hex(std::string(1, c)) + "00";
    return "01000000" "00" "02000080ffffffff" + subkey + "0000" "00" "00000000" "00000000";
}

// The frames of one connection as the double logged them (sequence numbers left out), then "disconnect".
std::string frame_text(std::uint32_t kind, std::uint32_t id, const std::string& payload)
{
    char head[40];
    std::snprintf(head, sizeof(head), "kind=%u id=0x%08X ", static_cast<unsigned>(kind), static_cast<unsigned>(id));
    return head + payload;
}

const std::string kVersion = frame_text(0, 0x1000009, "05000000");
const std::string kUnprotectService = frame_text(0, 0x1000002, service_request());
const std::string kUnprotectRegistry = frame_text(0, 0x100000B, registry_request());
const std::string kGoodbye = frame_text(4, 0x1000000, "");
const std::string kDisconnect = "disconnect";

using connection = std::vector<std::string>;
const connection kReleasedService = {kVersion, kUnprotectService, kGoodbye, kDisconnect};
const connection kReleasedRegistry = {kVersion, kUnprotectRegistry, kGoodbye, kDisconnect};
const connection kRefused = {kVersion, kGoodbye, kDisconnect};

// The double's log as one frame list per connection, in connection order.
std::vector<connection> connections_of(const std::vector<std::string>& lines)
{
    std::map<unsigned, connection> by_number;
    for (const std::string& line : lines) {
        protection_double::logged_frame frame;
        std::istringstream words(line);
        std::string event;
        unsigned number = 0;
        words >> event >> number;
        if (protection_double::parse_frame_line(line, frame))
            by_number[frame.connection].push_back(frame_text(frame.kind, frame.id, frame.payload_hex));
        else if (event == "connect")
            by_number[number];
        else if (event == "disconnect")
            by_number[number].push_back(kDisconnect);
    }
    std::vector<connection> result;
    for (auto& entry : by_number)
        result.push_back(entry.second);
    return result;
}

std::string describe(const std::vector<connection>& connections)
{
    std::string text;
    for (const connection& frames : connections) {
        text += "[";
        for (const std::string& frame : frames)
            text += "\n  " + frame;
        text += "]\n";
    }
    return text;
}

// The double installed under `name` with a script and a log of its own; uninstalled on destruction.
class installed_double {
public:
    installed_double(const char* name, const std::string& script, bool start)
        : name_(name), script_(narrow(folder_ / L"script.txt")), log_(narrow(folder_ / L"frames.log"))
    {
        installed_ = protection_double::write_text_file(script_, script) &&
                     protection_double::install(name_, script_, log_, false, &why_) &&
                     (!start || protection_double::start(name_, &why_));
    }
    ~installed_double() { protection_double::uninstall(name_); }
    installed_double(const installed_double&) = delete;
    installed_double& operator=(const installed_double&) = delete;

    ::testing::AssertionResult installed() const
    {
        if (installed_)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << name_ << ": " << why_;
    }
    std::vector<std::string> log() const { return protection_double::read_lines(log_); }

    // Waits until the double has seen `expected`, which includes each connection's end.
    ::testing::AssertionResult saw(const std::vector<connection>& expected) const
    {
        if (eventually([&] { return connections_of(log()) == expected; }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << name_ << " saw:\n"
                                             << describe(connections_of(log())) << "expected:\n"
                                             << describe(expected);
    }

private:
    std::string name_;
    temp_folder folder_;
    std::string script_;
    std::string log_;
    std::string why_;
    bool installed_ = false;
};

// A double that is not there has nothing to install and sees nothing.
::testing::AssertionResult installed(const installed_double* d)
{
    return d ? d->installed() : ::testing::AssertionSuccess();
}

::testing::AssertionResult saw(const installed_double* d, const std::vector<connection>& expected)
{
    return d ? d->saw(expected) : ::testing::AssertionSuccess();
}

enum class double_state { absent, stopped, running };

struct double_setup {
    double_state state = double_state::absent;
    std::string answers;  // script lines in front of the guarded objects
};

struct release_case {
    const char* title;
    double_setup first;
    double_setup second;
    std::vector<std::string> log;  // step 2's log lines after its title
    bool released;
    std::vector<connection> first_saw;
    std::vector<connection> second_saw;
};

const char kServiceProgress1[] = "\tTrying to stop protection of Ferrolink service:1";
const char kRegistryProgress1[] = "\tTrying to stop protection of Ferrolink reg:1";
const char kServiceProgress2[] = "\tTrying to stop protection of Ferrolink service:2";
const char kRegistryProgress2[] = "\tTrying to stop protection of Ferrolink reg:2";
const char kServiceReleased[] = "\tFerrolink service unprotected.";
const char kRegistryReleased[] = "\tFerrolink reg unprotected.";
const char kServiceAlready[] = "\tFerrolink service have already unprotected.";
const char kRegistryAlready[] = "\tFerrolink reg have already unprotected.";
const char kNoConnection[] = "Unable to connect client protection service, please make sure it has been started.";
const char kIncompatible[] = "Service and client use incompatible IPC protocols.";
const char kTryAgain[] = "\tDon't worry! We'll try again.";
const char kRestarting[] = "Client protection service is stopped, trying to re-start the service...";

const std::vector<std::string> kFirstNameReleasesBoth = {kServiceProgress1,  kServiceReleased, kRegistryProgress1,
                                                         kRegistryReleased, kServiceProgress2, kServiceAlready,
                                                         kRegistryProgress2, kRegistryAlready};

const release_case kCases[] = {
    {"only the first name", {double_state::running, ""}, {}, kFirstNameReleasesBoth, true,
     {kReleasedService, kReleasedRegistry}, {}},
    {"only the second name", {}, {double_state::running, ""},
     {kServiceProgress1, kNoConnection, kRegistryProgress1, kNoConnection, kServiceProgress2, kServiceReleased,
      kRegistryProgress2, kRegistryReleased},
     true, {}, {kReleasedService, kReleasedRegistry}},
    {"both names", {double_state::running, ""}, {double_state::running, ""},
     {kServiceProgress1, kServiceReleased, kRegistryProgress1, kRegistryReleased, kServiceProgress2,
      kServiceReleased, kRegistryProgress2, kRegistryReleased},
     true, {kReleasedService, kReleasedRegistry}, {kReleasedService, kReleasedRegistry}},
    {"neither name", {}, {},
     {kServiceProgress1, kNoConnection, kRegistryProgress1, kNoConnection, kServiceProgress2, kRegistryProgress2},
     false, {}, {}},
    // Connecting starts it; the registry target then finds it running.
    {"the first name stopped", {double_state::stopped, ""}, {},
     {kServiceProgress1, kRestarting, kServiceReleased, kRegistryProgress1, kRegistryReleased, kServiceProgress2,
      kServiceAlready, kRegistryProgress2, kRegistryAlready},
     true, {kReleasedService, kReleasedRegistry}, {}},
    // The service target is left for pass 2, where nothing answers.
    {"an incompatible first connection", {double_state::running, "version@1 0 5\n"}, {},
     {kServiceProgress1, kIncompatible, kTryAgain, kRegistryProgress1, kRegistryReleased, kServiceProgress2,
      kRegistryProgress2, kRegistryAlready},
     false, {kRefused, kReleasedRegistry}, {}},
    {"the registry target refused in both passes", {double_state::running, "version@2 0 5\n"},
     {double_state::running, "version@2 0 5\n"},
     {kServiceProgress1, kServiceReleased, kRegistryProgress1, kIncompatible, kTryAgain, kServiceProgress2,
      kServiceReleased, kRegistryProgress2, kIncompatible},
     false, {kReleasedService, kRefused}, {kReleasedService, kRefused}},
    // Only a reply with success releases a target: a refusal (its message shown safely) or no answer at all
    // leaves it protected, and pass 2 has nothing to call already done.
    {"a refusal to unprotect", {double_state::running, "on 0x1000002 result 0 Guarded\x1b[2J by policy\n"}, {},
     {kServiceProgress1,
      "\tFerrolink service still protected, the protection service refused: Guarded\xEF\xBF\xBD[2J by policy",
      kRegistryProgress1, kRegistryReleased, kServiceProgress2, kRegistryProgress2, kRegistryAlready},
     false, {kReleasedService, kReleasedRegistry}, {}},
    {"a connection dropped instead of an answer", {double_state::running, "on 0x100000B drop\n"}, {},
     {kServiceProgress1, kServiceReleased, kRegistryProgress1,
      "\tFerrolink reg still protected, the protection service did not answer", kServiceProgress2, kServiceAlready,
      kRegistryProgress2},
     false, {kReleasedService, {kVersion, kUnprotectRegistry, kDisconnect}}, {}},
};

// The step 2 part of a run's text: from its title up to the title of step 3.
std::string section(const std::string& text, const std::string& from, const std::string& to)
{
    const size_t begin = text.find(from);
    if (begin == std::string::npos)
        return "<no " + from + ">";
    const size_t end = text.find(to, begin);
    return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

const std::string kReleasedConsole = "2.Unprotecting Ferrolink resources..........\nsucceed\n";
const std::string kNotReleasedConsole = "2.Unprotecting Ferrolink resources..........\nfailed\n"
                                        "tFailed to stop unprotect action. Maybe an exe installer? Continue...\n";

class ProtectionRelease : public ::testing::Test {
protected:
    void SetUp() override
    {
        protection_double::uninstall(kFirstName);
        protection_double::uninstall(kSecondName);
    }

    static std::unique_ptr<installed_double> make(const char* name, const double_setup& setup)
    {
        if (setup.state == double_state::absent)
            return nullptr;
        return std::make_unique<installed_double>(name, setup.answers + kGuarding,
                                                  setup.state == double_state::running);
    }

    temp_folder work_;
};

TEST_F(ProtectionRelease, WholeRunsLogEachPassAndReportTheOutcomeWithoutStoppingTheRun)
{
    for (const release_case& c : kCases) {
        SCOPED_TRACE(c.title);
        const auto first = make(kFirstName, c.first);
        const auto second = make(kSecondName, c.second);
        ASSERT_TRUE(installed(first.get()));
        ASSERT_TRUE(installed(second.get()));
        ::DeleteFileW((work_ / widen(kRunLogName)).c_str());

        const process_output out = run_cleaner(work_.path());
        EXPECT_EQ(c.released ? kReleasedConsole : kNotReleasedConsole,
                  section(out.console, "2.Unprotecting", "3.Stopping"));
        EXPECT_NE(std::string::npos, out.console.find("\nUninstall Ferrolink succeed\n")) << out.console;
        const std::string log = read_text(work_ / widen(kRunLogName));
        EXPECT_EQ("2.Try to stop Ferrolink protection\n" + joined(c.log), section(log, "2.Try", "3.Try"));
        EXPECT_TRUE(saw(first.get(), c.first_saw));
        EXPECT_TRUE(saw(second.get(), c.second_saw));
    }
}

// A service that drops the connection while the unprotect request waits: the request fails at once, not
// after the three minutes of a reply time-out.
TEST_F(ProtectionRelease, AConnectionDroppedUnderAWaitingRequestDoesNotHoldTheRun)
{
    const auto first = make(kFirstName, {double_state::running, "on 0x1000002 drop\n"});
    ASSERT_TRUE(first->installed());
    const DWORD start = ::GetTickCount();
    const process_output out = run_cleaner(work_.path(), L"-auto");
    EXPECT_LT(::GetTickCount() - start, 60000u);
    EXPECT_EQ(0u, out.exit_code);
    EXPECT_NE(std::string::npos, out.console.find("3.Stopping Ferrolink service")) << out.console;
    EXPECT_TRUE(first->saw({{kVersion, kUnprotectService, kDisconnect}, kReleasedRegistry}));
}

DWORD thread_count()
{
    mcl::mswin::unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    DWORD count = 0;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry))
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId() ? 1 : 0;
    return count;
}

// The helpers are released one after another: each connection has ended before the next one comes up, and
// when the step returns no helper thread and no connection is left in this process.
TEST_F(ProtectionRelease, LeavesNoHelperAndNoConnectionBehind)
{
    const auto first = make(kFirstName, {double_state::running, ""});
    ASSERT_TRUE(first->installed());
    captured_log log;
    const DWORD threads = thread_count();

    EXPECT_EQ(0, cleaner::release_client_protection(cleaner::run_log));
    EXPECT_EQ(threads, thread_count());
    EXPECT_TRUE(first->saw({kReleasedService, kReleasedRegistry}));
    const std::vector<std::string> lines = first->log();
    const auto at = [&](const char* line) { return std::find(lines.begin(), lines.end(), line) - lines.begin(); };
    EXPECT_LT(at("disconnect 1"), at("connect 2")) << describe(connections_of(lines));
    EXPECT_EQ(joined(kFirstNameReleasesBoth), log.text());
}

// Any account may open the protection service's connecting mutex and keep it. A thread of this process holds
// it here (a mutex is owned per thread, so this one waits as another process's client would).
TEST_F(ProtectionRelease, AConnectingMutexHeldBySomeoneElseDoesNotKeepTheProtection)
{
    const auto first = make(kFirstName, {double_state::running, ""});
    ASSERT_TRUE(first->installed());
    const mcl::mswin::unique_handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> held{false};
    std::thread holder([&] {
        const std::string name = std::string("Global\\") + kFirstName + "_MTX_CONNECTING";
        const mcl::mswin::unique_handle mutex(::OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()));
        held = mutex && ::WaitForSingleObject(mutex.get(), 0) == WAIT_OBJECT_0;
        ::WaitForSingleObject(done.get(), INFINITE);
        if (held)
            ::ReleaseMutex(mutex.get());
    });
    const bool holding = eventually([&] { return held.load(); }, 2000);

    captured_log log;
    const DWORD start = ::GetTickCount();
    const int result = cleaner::release_client_protection(cleaner::run_log);
    const DWORD took = ::GetTickCount() - start;
    ::SetEvent(done.get());
    holder.join();
    ASSERT_TRUE(holding);

    EXPECT_EQ(0, result);
    EXPECT_EQ(joined(kFirstNameReleasesBoth), log.text());
    EXPECT_TRUE(first->saw({kReleasedService, kReleasedRegistry}));
    // Two connections, each within its 2000 ms.
    EXPECT_LT(took, 6000u);
}

// Someone keeps taking every instance of the outbound pipe as the service makes it: each connection gives up
// at its own time-out instead of waiting 30 s for an instance.
TEST_F(ProtectionRelease, APipeKeptBusyBySomeoneElseDoesNotHoldTheStep)
{
    const auto first = make(kFirstName, {double_state::running, ""});
    ASSERT_TRUE(first->installed());
    std::atomic<bool> stop{false};
    std::atomic<int> taken{0};
    std::thread squatter([&] {
        const std::string pipe_name = std::string("\\\\.\\pipe\\") + kFirstName + "_OUTBOUND";
        std::vector<mcl::mswin::unique_handle> instances;
        while (!stop) {
            HANDLE pipe = ::CreateFileA(pipe_name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (pipe == INVALID_HANDLE_VALUE) {
                ::Sleep(1);
                continue;
            }
            instances.emplace_back(pipe);
            ++taken;
        }
    });
    const bool squatting = eventually([&] { return taken.load() > 0; }, 2000);

    captured_log log;
    const DWORD start = ::GetTickCount();
    const int result = cleaner::release_client_protection(cleaner::run_log);
    const DWORD took = ::GetTickCount() - start;
    stop = true;
    squatter.join();
    ASSERT_TRUE(squatting);

    EXPECT_LT(took, 10000u);
    EXPECT_EQ(-1, result);
    EXPECT_TRUE(starts_with(log.text(), std::string(kServiceProgress1) + "\n" + kNoConnection + "\n")) << log.text();
}

// Any account may add instances under the service's pipe names (their access list is null). Two such pairs,
// planted here beside the service's own, are what the first connections open: the helper rejects them by their
// server's process and connects again, so both targets are still released.
TEST_F(ProtectionRelease, PipeInstancesPlantedBesideTheServiceArePassedOver)
{
    const auto first = make(kFirstName, {double_state::running, ""});
    ASSERT_TRUE(first->installed());
    std::vector<mcl::mswin::unique_handle> planted;
    for (const std::string end : {"_OUTBOUND", "_INBOND", "_OUTBOUND", "_INBOND"}) {
        const DWORD access = end == "_INBOND" ? PIPE_ACCESS_INBOUND : PIPE_ACCESS_OUTBOUND;
        planted.emplace_back(::CreateNamedPipeA(("\\\\.\\pipe\\" + (kFirstName + end)).c_str(), access, 0, 255, 4096,
                                                4096, 0, nullptr));
        ASSERT_TRUE(planted.back()) << end << " " << ::GetLastError();
    }
    captured_mcl_log mcl_log;
    captured_log log;
    EXPECT_EQ(0, cleaner::release_client_protection(cleaner::run_log));
    EXPECT_EQ(joined(kFirstNameReleasesBoth), log.text());
    EXPECT_TRUE(mcl_log.contains("is not served by the expected process")) << "no planted pipe was opened";
    // A rejected attempt may have opened one of the service's pipes too; that connection carries nothing.
    const std::vector<connection> expected = {kReleasedService, kReleasedRegistry};
    EXPECT_TRUE(eventually([&] {
        std::vector<connection> served = connections_of(first->log());
        served.erase(std::remove(served.begin(), served.end(), connection()), served.end());
        return served == expected;
    })) << describe(connections_of(first->log()));
}

} // namespace
