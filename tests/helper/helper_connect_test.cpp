// Connecting, the protocol version and its gate, requests without a connection, and the end of a helper.
#include "helper_fixture.h"

#include "double_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

using namespace helpertest;

constexpr std::uint32_t pause_request = 0x1000006;
constexpr std::uint32_t resume_request = 0x1000007;
constexpr std::uint32_t compatible_request = 0x1000009;

long long elapsed_ms(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

TEST(HelperConnect, NameThatIsNoServiceStartsNothingAndTouchesNoPipe)
{
    captured_mcl_log log;
    helper_ptr helper = make_helper();
    const std::string absent = fltest::narrow(fltest::unique_name(L"fl_helper_test_absent_"));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(helper->connect(2000, absent));
    // The handshake retries every 500 ms while no listener is there; it was not even begun.
    EXPECT_LT(elapsed_ms(started), 400);
    EXPECT_EQ(helper->connection_count(), 0u);
    EXPECT_FALSE(helper->service_installed(absent));
    EXPECT_FALSE(helper->service_stopped(absent));
    EXPECT_EQ(log.text(), "");
}

TEST(HelperConnect, StoppedServiceIsStartedThenConnected)
{
    service_double service("");
    ASSERT_TRUE(service.installed());
    helper_ptr helper = make_helper();
    EXPECT_TRUE(helper->service_installed(service.name()));
    EXPECT_TRUE(helper->service_stopped(service.name()));

    ASSERT_TRUE(helper->connect(2000, service.name()));
    EXPECT_FALSE(helper->service_stopped(service.name()));
    EXPECT_EQ(helper->connection_count(), 1u);
    EXPECT_TRUE(helper->proto_compatible());
    EXPECT_EQ(service.count_frames(compatible_request), 1u);
}

// A running service with no listener behind its name leaves only the handshake's wait.
TEST(HelperConnect, NegativeTimeOutIsNoWait)
{
    silent_service service;
    ASSERT_TRUE(service.running());
    captured_mcl_log log;
    helper_ptr helper = make_helper();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(helper->connect(-1, service.name()));
    EXPECT_LT(elapsed_ms(started), 400);
    EXPECT_TRUE(log.contains("Failed to open the connecting mutex for pipe[" + service.name() + "]"));
}

// A process that serves the pipe names of a registered service, the service itself serving none: the helper
// opens the pipes, finds another process behind them and sends nothing.
TEST(HelperConnect, PipesServedByAnotherProcessThanTheServiceGetNoRequest)
{
    silent_service service;
    ASSERT_TRUE(service.running());
    fltest::temp_folder folder;
    const std::string log_path = fltest::narrow(folder / L"impostor.log");
    const std::string script_path = fltest::narrow(folder / L"impostor.txt");
    ASSERT_TRUE(protection_double::write_text_file(script_path, ""));
    fltest::child_process impostor(fltest::widen("\"" + protection_double::exe_path() + "\" console " +
                                                 service.name() + " --script \"" + script_path + "\" --log \"" +
                                                 log_path + "\""));
    ASSERT_TRUE(impostor.started());
    const std::string mutex_name = "Global\\" + service.name() + "_MTX_CONNECTING";
    ASSERT_TRUE(eventually([&] {
        return static_cast<bool>(mcl::mswin::unique_handle(::OpenMutexA(SYNCHRONIZE, FALSE, mutex_name.c_str())));
    }));

    helper_ptr helper = make_helper();
    EXPECT_FALSE(helper->connect(2000, service.name()));
    EXPECT_EQ(helper->connection_count(), 0u);
    EXPECT_FALSE(helper->proto_compatible());
    helper.reset();
    // The impostor logs the pipes' opening and end, and nothing in between.
    ASSERT_TRUE(eventually([&] { return !protection_double::read_lines(log_path).empty(); }));
    EXPECT_TRUE(protection_double::frames_in(protection_double::read_lines(log_path)).empty());
}

// The version gate: before any proto_compatible, after a too-old version, and after an incompatible but
// recent enough one.
struct gate_case {
    const char* label;
    const char* script;
    bool ask_version;
    bool compatible;
    std::uint32_t version_after;
    int slot;  // 30 (version 3) or 44 (version 5)
    bool passes;
    const char* message;
};

const gate_case gate_cases[] = {
    {"no version yet", "", false, false, 0, 30, false,
     "Please call proto_compatible() API to confirm the feature is suppported by service."},
    {"version 3 for slot 44", "version 1 3\n", true, true, 3, 44, false,
     "Service does not support the feature, current IPC protocol version : 3, minimum required version: 5"},
    {"incompatible version 4 for slot 30", "version 0 4\non 0x10000C9 result 1 made\n", true, false, 4, 30, true,
     "made"},
};

TEST(HelperConnect, VersionGate)
{
    service_double service("");
    ASSERT_TRUE(service.installed());
    ASSERT_TRUE(service.start());
    for (const gate_case& row : gate_cases) {
        SCOPED_TRACE(row.label);
        service.rewrite_script(row.script);
        helper_ptr helper = make_helper();
        ASSERT_TRUE(helper->connect(2000, service.name()));
        if (row.ask_version) {
            EXPECT_EQ(helper->proto_compatible(), row.compatible);
        }
        EXPECT_EQ(helper->protocol_version(), row.version_after);

        request_result result{7, "unchanged"};
        const bool passed = row.slot == 30 ? helper->create_quarantine_container({"c", {}}, &result)
                                           : helper->entry_request("a", "b", "c", 0, 0, 0, &result);
        EXPECT_EQ(passed, row.passes);
        EXPECT_EQ(result.ok, row.passes ? 1 : 0);
        EXPECT_EQ(result.message, row.message);
    }
    // Refused at the gate: nothing of slots 30 and 44 was sent before the version allowed it.
    EXPECT_EQ(service.count_frames(0x10000FA), 0u);
    EXPECT_EQ(service.count_frames(0x10000C9), 1u);
}

struct attempts_case {
    const char* script;
    std::int32_t retries;
    std::uint32_t pause_seconds;
    bool compatible;
    std::size_t attempts;
    long long least_ms;
};

const attempts_case attempts_cases[] = {
    {"version 0 5\n", 0, 5, false, 1, 0},
    {"version 0 5\n", -3, 5, false, 1, 0},
    {"version 0 5\n", 2, 1, false, 3, 2000},
    {"version 1 5\n", 2, 1, true, 1, 0},
};

TEST(HelperConnect, WaitProtoCompatibleAttempts)
{
    service_double service("");
    ASSERT_TRUE(service.installed());
    ASSERT_TRUE(service.start());
    for (const attempts_case& row : attempts_cases) {
        SCOPED_TRACE(std::to_string(row.retries) + " retries");
        service.rewrite_script(row.script);
        const std::size_t before = service.count_frames(compatible_request);
        helper_ptr helper = make_helper();
        ASSERT_TRUE(helper->connect(2000, service.name()));
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(helper->wait_proto_compatible(row.retries, row.pause_seconds), row.compatible);
        const long long took = elapsed_ms(started);
        EXPECT_EQ(service.count_frames(compatible_request) - before, row.attempts);
        EXPECT_GE(took, row.least_ms);
        EXPECT_LT(took, row.least_ms + 1000);
    }
}

// Requests need exactly one connection: none and two are refused before anything is sent.
TEST(HelperConnect, RequestWithoutExactlyOneConnectionSendsNothing)
{
    service_double service("");
    ASSERT_TRUE(service.installed());
    ASSERT_TRUE(service.start());
    const struct {
        int connects;
        const char* logged;
    } cases[] = {{0, "[ovchelper::sync_query:665] - Less than one IPC connection: 0"},
                 {2, "[ovchelper::sync_query:665] - More than one IPC connection: 2"}};
    for (const auto& row : cases) {
        SCOPED_TRACE(row.connects);
        captured_mcl_log log;
        helper_ptr helper = make_helper();
        for (int i = 0; i < row.connects; ++i)
            ASSERT_TRUE(helper->connect(2000, service.name()));
        request_result result{7, "unchanged"};
        EXPECT_FALSE(helper->pause_protection(&result));
        EXPECT_EQ(result.message, "unchanged");
        EXPECT_FALSE(helper->send_test_message());
        EXPECT_TRUE(log.contains(row.logged));
    }
    EXPECT_EQ(service.count_frames(pause_request), 0u);
    EXPECT_EQ(service.count_frames(0x1000001), 0u);
}

TEST(HelperRelease, NullPointerIsLoggedAndLeftAlone)
{
    captured_mcl_log log;
    OVClientHelper::releaseHelper(nullptr);
    EXPECT_TRUE(log.contains(
        "[OVClientHelper::releaseHelper:33] - Failed to convert incoming iovchelper pointer to ovhelper"));
}

// The leaving message reaches the service before the pipes close, and a release takes no thread stop limit.
TEST(HelperRelease, LeavingMessageArrivesAndReleaseIsQuick)
{
    service_double service("");
    ASSERT_TRUE(service.installed());
    ASSERT_TRUE(service.start());
    for (int round = 1; round <= 4; ++round) {
        SCOPED_TRACE(round);
        helper_ptr helper = make_helper();
        ASSERT_TRUE(helper->connect(2000, service.name()));
        ASSERT_TRUE(helper->proto_compatible());
        const auto started = std::chrono::steady_clock::now();
        helper.reset();
        EXPECT_LT(elapsed_ms(started), 500);
    }
    ASSERT_TRUE(eventually([&] { return service.count_frames(ovchelper::leaving_message) == 4; }));
    for (const std::string& frame : service.frames()) {
        if (frame.find("id=0x01000000") != std::string::npos) {
            EXPECT_EQ(frame, frame_text(4, ovchelper::leaving_message, ""));
        }
    }
}

// Holds the first message for a while, so that the second is still queued when the helper is released.
class slow_delegate : public mcl::ipc_msg_handler {
public:
    std::int32_t handle_message(const mcl::ipc_connection_ptr&, std::uint32_t, mcl::binary_t&) override
    {
        if (calls.fetch_add(1) == 0) {
            ::Sleep(300);
            first_done = true;
        }
        return 0;
    }
    std::atomic<int> calls{0};
    std::atomic<bool> first_done{false};
};

// A release waits for the message being handled and lets no other reach the handler after it.
TEST(HelperRelease, NoMessageReachesTheHandlerAfterRelease)
{
    service_double service("on 0x1000006 post 0x2000001 01\non 0x1000007 post 0x2000002 02\n");
    ASSERT_TRUE(service.installed());
    ASSERT_TRUE(service.start());
    slow_delegate delegate;
    helper_ptr helper = make_helper();
    helper->set_event_delegate(&delegate);
    ASSERT_TRUE(helper->connect(2000, service.name()));
    ASSERT_TRUE(helper->pause_protection(nullptr));
    ASSERT_TRUE(helper->resume_protection(nullptr));
    ASSERT_FALSE(delegate.first_done.load());
    helper.reset();
    EXPECT_TRUE(delegate.first_done.load());
    const int at_release = delegate.calls.load();
    ::Sleep(300);
    EXPECT_EQ(delegate.calls.load(), at_release);
}

} // namespace
