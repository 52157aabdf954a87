// Across two processes: our listener program on one side, a peer of this test on the other.
#include "ipc_test_support.h"
#include "listener_protocol.h"
#include "mcl/payload.h"

#include <gtest/gtest.h>

namespace {

using namespace ipctest;
namespace proto = ipc_listener;

struct listener_process {
    explicit listener_process(const char* prefix)
        : name(unique_pipe_name(prefix)),
          process(L"\"" + fltest::bin_path(L"ipc_listener.exe") + L"\" " + fltest::widen(name))
    {
    }

    std::string name;
    fltest::child_process process;
};

TEST(IpcProcesses, RequestsMessagesAndBroadcastsCrossTheProcessBoundary)
{
    listener_process server("ipc_proc_");
    ASSERT_TRUE(server.process.started());
    ipc_listener::scripted_handler seen;
    mcl::ipc_peer client(&seen);
    ASSERT_TRUE(client.connect(server.name.c_str(), 10000));

    mcl::binary_t payload;
    mcl::put_string(payload, "across");
    mcl::put_u64(payload, 0x0102030405060708ull);
    const bytes sent = to_bytes(payload);
    ASSERT_TRUE(client.send(proto::echo_request, payload, client.connection_at(0)));
    EXPECT_EQ(to_bytes(payload), sent);

    ASSERT_TRUE(client.post(proto::post_back_message, to_binary({4, 2})));
    mcl::binary_t broadcast = to_binary({'b'});
    ASSERT_TRUE(client.send(proto::broadcast_request, broadcast, client.connection_at(0)));
    ASSERT_TRUE(eventually([&] { return seen.call_count() == 2; }));
    const auto calls = seen.calls();
    EXPECT_EQ(calls[0].id, proto::echoed_message);
    EXPECT_EQ(calls[0].payload, bytes({4, 2}));
    EXPECT_EQ(calls[1].id, proto::broadcast_message);
    EXPECT_TRUE(server.process.running());
}

TEST(IpcProcesses, ListenerDyingWhileASendWaitsEndsTheSendAtItsNextPoll)
{
    captured_mcl_log log;
    {
        listener_process server("ipc_die_");
        ASSERT_TRUE(server.process.started());
        mcl::ipc_peer client;
        ASSERT_TRUE(client.connect(server.name.c_str(), 10000));

        const mcl::ipc_connection_ptr connection = client.connection_at(0);
        mcl::binary_t payload = to_binary({1});
        const DWORD started = ::GetTickCount();
        EXPECT_FALSE(client.send(proto::die_request, payload, connection));
        EXPECT_LT(::GetTickCount() - started, 5000u);
        EXPECT_TRUE(server.process.wait(5000));
        EXPECT_EQ(client.connection_count(), 0u);

        // A caller still holding the dead connection learns it at the first poll, not after 3 minutes.
        const DWORD again = ::GetTickCount();
        EXPECT_FALSE(client.send(proto::echo_request, payload, connection));
        EXPECT_LT(::GetTickCount() - again, 1000u);
    }
    EXPECT_TRUE(log.contains("IPC connection has been terminated when waiting for response for message [" +
                             std::to_string(proto::die_request) + "]")) << log.text();
    EXPECT_TRUE(log.contains("IPC connection has been terminated when waiting for response for message [" +
                             std::to_string(proto::echo_request) + "]")) << log.text();
}

} // namespace
