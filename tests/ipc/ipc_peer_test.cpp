// Two peers in one process: a listener on its own thread and connecting peers, on names unique to the test.
#include "ipc_test_support.h"
#include "listener_protocol.h"
#include "mcl/frame.h"
#include "mcl/payload.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace ipctest;
namespace proto = ipc_listener;

mcl::binary_t text_payload(const std::string& text)
{
    mcl::binary_t payload;
    mcl::put_string(payload, text);
    return payload;
}

std::string text_of(const mcl::binary_t& payload)
{
    std::uint32_t cursor = 0;
    std::string text;
    return mcl::get_string(payload, cursor, text) ? text : std::string("<undecodable>");
}

std::uint32_t count_on_listener(mcl::ipc_peer& client)
{
    mcl::binary_t payload;
    std::uint32_t count = 0;
    std::uint32_t cursor = 0;
    if (!client.send(proto::count_request, payload, client.connection_at(0)) || !mcl::get_u32(payload, cursor, count))
        return 0xFFFFFFFF;
    return count;
}

TEST(IpcPeer, HandshakeThenSendGetsItsReply)
{
    listener server("ipc_hs_");
    mcl::ipc_peer client;
    ASSERT_TRUE(client.connect(server.name().c_str(), 2000));
    ASSERT_EQ(client.connection_count(), 1u);

    mcl::binary_t payload = text_payload("hello listener");
    ASSERT_TRUE(client.send(proto::echo_request, payload, client.connection_at(0)));
    EXPECT_EQ(text_of(payload), "hello listener");
    // The connected pair and the fresh pair prepared for whoever comes next.
    EXPECT_EQ(count_on_listener(client), 2u);

    const auto calls = server.handler().calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].id, proto::echo_request);
    EXPECT_EQ(calls[1].id, proto::count_request);
}

TEST(IpcPeer, ConcurrentSendersOnOneConnectionEachGetTheirOwnReply)
{
    listener server("ipc_conc_");
    mcl::ipc_peer client;
    ASSERT_TRUE(client.connect(server.name().c_str(), 2000));
    const mcl::ipc_connection_ptr connection = client.connection_at(0);

    // Large payloads keep writes outstanding while other threads queue theirs behind them.
    constexpr int threads = 6;
    constexpr int rounds = 4;
    std::atomic<int> mismatches{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < threads; ++t) {
        senders.emplace_back([&, t] {
            for (int r = 0; r < rounds; ++r) {
                const std::string text = "thread " + std::to_string(t) + " round " + std::to_string(r) + " " +
                                         std::string(static_cast<std::size_t>(20000 * (t % 3)), char('a' + t));
                mcl::binary_t payload = text_payload(text);
                if (!client.send(proto::echo_request, payload, connection))
                    ++failures;
                else if (text_of(payload) != text)
                    ++mismatches;
            }
        });
    }
    for (std::thread& sender : senders)
        sender.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(server.handler().call_count(), static_cast<std::size_t>(threads * rounds));
    EXPECT_EQ(client.connection_count(), 1u);
}

TEST(IpcPeer, PostReachesEveryConnectionAndKeepsTheWaitingPairUsable)
{
    listener server("ipc_post_");
    ipc_listener::scripted_handler first_seen;
    ipc_listener::scripted_handler second_seen;
    mcl::ipc_peer first(&first_seen);
    mcl::ipc_peer second(&second_seen);
    ASSERT_TRUE(first.connect(server.name().c_str(), 2000));
    ASSERT_TRUE(second.connect(server.name().c_str(), 2000));
    ASSERT_TRUE(eventually([&] { return server.peer().connection_count() == 3; }));

    // Three connections on the listener: two clients and the pair still waiting for a client.
    ASSERT_TRUE(server.peer().post(proto::broadcast_message, text_payload("to all")));
    ASSERT_TRUE(eventually([&] { return first_seen.call_count() == 1 && second_seen.call_count() == 1; }));
    EXPECT_EQ(first_seen.calls()[0].id, proto::broadcast_message);
    EXPECT_EQ(second_seen.calls()[0].payload, to_bytes(text_payload("to all")));

    // The waiting pair was not dropped for having bytes queued before its client came.
    ::Sleep(100);
    EXPECT_EQ(server.peer().connection_count(), 3u);
    ipc_listener::scripted_handler third_seen;
    mcl::ipc_peer third(&third_seen);
    ASSERT_TRUE(third.connect(server.name().c_str(), 2000));
    ASSERT_TRUE(eventually([&] { return third_seen.call_count() == 1; }));
    EXPECT_EQ(third_seen.calls()[0].id, proto::broadcast_message);
    mcl::binary_t payload = text_payload("still works");
    ASSERT_TRUE(third.send(proto::echo_request, payload, third.connection_at(0)));
    EXPECT_EQ(text_of(payload), "still works");

    // One-way messages in the other direction reach the listener's handler, which answers with a post.
    ASSERT_TRUE(first.post(proto::post_back_message, text_payload("ping")));
    ASSERT_TRUE(eventually([&] { return first_seen.call_count() == 2; }));
    EXPECT_EQ(first_seen.calls()[1].id, proto::echoed_message);
    EXPECT_EQ(second_seen.call_count(), 1u);
}

TEST(IpcPeer, PostWithoutAnyConnectionSucceeds)
{
    mcl::ipc_peer lonely;
    EXPECT_TRUE(lonely.post(proto::broadcast_message, text_payload("nobody")));
    EXPECT_EQ(lonely.connection_count(), 0u);
    mcl::binary_t payload;
    EXPECT_FALSE(lonely.send(proto::echo_request, payload, mcl::ipc_connection_ptr()));
}

TEST(IpcPeer, ConnectWithZeroTimeoutFailsAtOnceWithTheMutexMessage)
{
    captured_mcl_log log;
    const std::string name = unique_pipe_name("ipc_zero_");
    {
        mcl::ipc_peer client;
        const DWORD started = ::GetTickCount();
        EXPECT_FALSE(client.connect(name.c_str(), 0));
        EXPECT_LT(::GetTickCount() - started, 400u);
        EXPECT_FALSE(client.connect(nullptr, 1000));
    }
    EXPECT_TRUE(log.contains("[mcl::ipc_peer::connect:417] - Failed to open the connecting mutex for pipe[" + name +
                             "], peer may not start yet.")) << log.text();
}

TEST(IpcPeer, ConnectRetriesUntilTheListenerComes)
{
    captured_mcl_log log;
    const std::string absent = unique_pipe_name("ipc_absent_");
    {
        mcl::ipc_peer client;
        const DWORD started = ::GetTickCount();
        EXPECT_FALSE(client.connect(absent.c_str(), 1200));
        const DWORD elapsed = ::GetTickCount() - started;
        // Three tries 500 ms apart use up 1200 ms.
        EXPECT_GE(elapsed, 1400u);
        EXPECT_LT(elapsed, 4000u);
    }
    EXPECT_TRUE(log.contains("pipe[" + absent + "], peer may not start yet."));

    // A listener that comes while the connecting side retries is found at the next try.
    mcl::ipc_peer client;
    const std::string late = unique_pipe_name("ipc_late_");
    bool connected = false;
    std::thread connecting([&] { connected = client.connect(late.c_str(), 10000); });
    ::Sleep(700);
    ipc_listener::scripted_handler handler;
    mcl::ipc_peer server(&handler);
    server.set_name(late);
    std::thread listening([&] { server.run_listener(); });
    connecting.join();
    EXPECT_TRUE(connected);
    mcl::binary_t payload = text_payload("late");
    EXPECT_TRUE(client.send(proto::echo_request, payload, client.connection_at(0)));
    server.disconnect();
    listening.join();
}

TEST(IpcPeer, ClientDisconnectIsNoticedByTheListener)
{
    listener server("ipc_leave_");
    {
        mcl::ipc_peer client;
        ASSERT_TRUE(client.connect(server.name().c_str(), 2000));
        ASSERT_TRUE(eventually([&] { return server.peer().connection_count() == 2; }));
        client.disconnect();
        EXPECT_EQ(client.connection_count(), 0u);
    }
    EXPECT_TRUE(eventually([&] { return server.peer().connection_count() == 1; }));

    // The same peer object can connect again after a disconnect.
    mcl::ipc_peer client;
    ASSERT_TRUE(client.connect(server.name().c_str(), 2000));
    client.disconnect();
    ASSERT_TRUE(client.connect(server.name().c_str(), 2000));
    mcl::binary_t payload = text_payload("again");
    EXPECT_TRUE(client.send(proto::echo_request, payload, client.connection_at(0)));
    EXPECT_EQ(text_of(payload), "again");
}

TEST(IpcPeer, PayloadAboveTheFrameLimitIsRefusedWithoutHarmingTheConnection)
{
    listener server("ipc_big_");
    mcl::ipc_peer client;
    ASSERT_TRUE(client.connect(server.name().c_str(), 2000));
    const std::vector<unsigned char> big(mcl::frame::max_payload + 1, 0x61);
    mcl::binary_t payload(big.data(), static_cast<std::uint32_t>(big.size()));
    const DWORD started = ::GetTickCount();
    EXPECT_FALSE(client.send(proto::echo_request, payload, client.connection_at(0)));
    EXPECT_LT(::GetTickCount() - started, 1000u);
    EXPECT_FALSE(client.post(proto::broadcast_message, payload));
    EXPECT_EQ(payload.size(), big.size());

    // A payload of a megabyte is well inside the limit and comes back whole.
    mcl::binary_t large(big.data(), 1u << 20);
    ASSERT_TRUE(client.send(proto::echo_request, large, client.connection_at(0)));
    EXPECT_EQ(large.size(), 1u << 20);
    EXPECT_EQ(server.handler().call_count(), 1u);
}

} // namespace
