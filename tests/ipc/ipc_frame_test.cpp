// The wire seen from outside: hand-driven pipe ends write and read raw frames to and from real peers.
#include "ipc_test_support.h"
#include "listener_protocol.h"
#include "mcl/frame.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace ipctest;
namespace proto = ipc_listener;
namespace frame = mcl::frame;

frame::header header_of(const bytes& whole)
{
    frame::header head;
    frame::read_header(whole.data(), whole.size(), head);
    return head;
}

bytes payload_of(const bytes& whole)
{
    return to_bytes(frame::payload_of(whole.data(), whole.size()));
}

// A listener and a hand-driven client connected to it.
struct raw_session {
    explicit raw_session(const char* prefix) : server(prefix)
    {
        connected = client.open(server.name()) &&
                    eventually([this] { return server.peer().connection_count() == 2; });
    }

    listener server;
    raw_client client;
    bool connected = false;
};

// A real peer connected to a hand-driven listener.
class IpcFramesFromPeer : public ::testing::Test {
protected:
    bool connect_pair(const char* prefix)
    {
        name = unique_pipe_name(prefix);
        return server.create(name) && client.connect(name.c_str(), 2000) && server.accept();
    }

    std::string name;
    raw_listener server;
    mcl::ipc_peer client;
};

TEST(IpcFrames, SplitFramesAreDeliveredOnceAndJoinedFramesBoth)
{
    raw_session session("ipc_split_");
    ASSERT_TRUE(session.connected);
    auto& handler = session.server.handler();

    const bytes first = make_frame(frame::message, 0x51, 1, {1, 2, 3, 4, 5});
    ASSERT_TRUE(write_all(session.client.to_listener(), bytes(first.begin(), first.begin() + 9)));
    ::Sleep(150);
    EXPECT_EQ(handler.call_count(), 0u);
    ASSERT_TRUE(write_all(session.client.to_listener(), bytes(first.begin() + 9, first.end())));
    ASSERT_TRUE(eventually([&] { return handler.call_count() == 1; }));

    // Two frames in one write, then an empty-payload frame short of its 17th byte.
    bytes joined = make_frame(frame::message, 0x52, 2, {7});
    const bytes second = make_frame(frame::message, 0x53, 3, bytes(600, 0x42));
    joined.insert(joined.end(), second.begin(), second.end());
    const bytes empty = make_frame(frame::message, 0x54, 4, {});
    ASSERT_EQ(empty.size(), 17u);
    joined.insert(joined.end(), empty.begin(), empty.end() - 1);
    ASSERT_TRUE(write_all(session.client.to_listener(), joined));
    ASSERT_TRUE(eventually([&] { return handler.call_count() == 3; }));
    ::Sleep(150);
    EXPECT_EQ(handler.call_count(), 3u);
    ASSERT_TRUE(write_all(session.client.to_listener(), bytes(1, 0)));
    ASSERT_TRUE(eventually([&] { return handler.call_count() == 4; }));
    ::Sleep(50);

    const auto calls = handler.calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].id, 0x51u);
    EXPECT_EQ(calls[0].payload, bytes({1, 2, 3, 4, 5}));
    EXPECT_EQ(calls[1].id, 0x52u);
    EXPECT_EQ(calls[2].id, 0x53u);
    EXPECT_EQ(calls[2].payload, bytes(600, 0x42));
    EXPECT_EQ(calls[3].id, 0x54u);
    EXPECT_TRUE(calls[3].payload.empty());
}

TEST(IpcFrames, RequestsAreAnsweredWithTheirSequenceAndUnknownKindsIgnored)
{
    raw_session session("ipc_kinds_");
    ASSERT_TRUE(session.connected);

    bytes stream = make_frame(5, proto::echo_request, 40, {9, 9});
    const bytes reply_nobody_waits_for = make_frame(frame::reply, proto::echo_request, 41, {1});
    const bytes request = make_frame(frame::request, proto::echo_request, 42, {'h', 'i', 0});
    stream.insert(stream.end(), reply_nobody_waits_for.begin(), reply_nobody_waits_for.end());
    stream.insert(stream.end(), request.begin(), request.end());
    ASSERT_TRUE(write_all(session.client.to_listener(), stream));

    bytes answer;
    ASSERT_EQ(read_frame(session.client.from_listener(), 5000, answer), read_result::frame);
    const frame::header head = header_of(answer);
    EXPECT_EQ(head.kind, static_cast<std::uint32_t>(frame::reply));
    EXPECT_EQ(head.id, proto::echo_request);
    EXPECT_EQ(head.sequence, 42u);
    EXPECT_EQ(payload_of(answer), bytes({'h', 'i', 0}));
    EXPECT_EQ(session.server.handler().call_count(), 1u);

    // A kind 2 request is answered as kind 3; an empty reply still carries its one 0 byte.
    ASSERT_TRUE(write_all(session.client.to_listener(), make_frame(frame::async_request, 0x99, 43, {})));
    ASSERT_EQ(read_frame(session.client.from_listener(), 5000, answer), read_result::frame);
    EXPECT_EQ(answer, make_frame(frame::async_reply, 0x99, 43, {}));
}

TEST(IpcFrames, HandlerReturningMinusOneSendsNoReply)
{
    raw_session session("ipc_noreply_");
    ASSERT_TRUE(session.connected);
    auto& handler = session.server.handler();

    ASSERT_TRUE(write_all(session.client.to_listener(), make_frame(frame::request, proto::no_reply_request, 1, {5})));
    ASSERT_TRUE(eventually([&] { return handler.call_count() == 1; }));
    // A later request wakes the event thread again; the first frame on the pipe must be its reply.
    ASSERT_TRUE(write_all(session.client.to_listener(), make_frame(frame::request, proto::echo_request, 2, {6})));
    bytes answer;
    ASSERT_EQ(read_frame(session.client.from_listener(), 5000, answer), read_result::frame);
    EXPECT_EQ(header_of(answer).sequence, 2u);
    EXPECT_EQ(read_frame(session.client.from_listener(), 200, answer), read_result::timed_out);
}

TEST(IpcFrames, HostileLengthDropsTheConnectionAndTheListenerCarriesOn)
{
    captured_mcl_log log;
    {
        raw_session session("ipc_hostile_");
        ASSERT_TRUE(session.connected);
        bytes hostile(16, 0);
        frame::header head;
        head.kind = frame::request;
        head.id = proto::echo_request;
        head.sequence = 1;
        head.length = 0xFFFFFFF0u;  // 16 + L wraps to 0 in 32 bits
        frame::write_header(hostile.data(), head);
        hostile.push_back(0);
        ASSERT_TRUE(write_all(session.client.to_listener(), hostile));

        bytes answer;
        EXPECT_EQ(read_frame(session.client.from_listener(), 5000, answer), read_result::broken);
        EXPECT_TRUE(eventually([&] { return session.server.peer().connection_count() == 1; }));
        EXPECT_EQ(session.server.handler().call_count(), 0u);

        // A length just above the limit is refused the same way.
        raw_client second;
        ASSERT_TRUE(second.open(session.server.name()));
        head.length = frame::max_payload + 1;
        frame::write_header(hostile.data(), head);
        ASSERT_TRUE(write_all(second.to_listener(), hostile));
        EXPECT_EQ(read_frame(second.from_listener(), 5000, answer), read_result::broken);

        mcl::ipc_peer client;
        ASSERT_TRUE(client.connect(session.server.name().c_str(), 2000));
        mcl::binary_t payload = to_binary({'o', 'k', 0});
        ASSERT_TRUE(client.send(proto::echo_request, payload, client.connection_at(0)));
        EXPECT_EQ(to_bytes(payload), bytes({'o', 'k', 0}));
    }
    EXPECT_TRUE(log.contains("[mcl::ipc_read_channel::read:262] - Failed to read from channel, frame of kind 0 "
                             "declares a payload of 4294967280 bytes")) << log.text();
}

TEST_F(IpcFramesFromPeer, RepliesInAnyOrderReachTheirOwnSenders)
{
    ASSERT_TRUE(connect_pair("ipc_order_"));
    const mcl::ipc_connection_ptr connection = client.connection_at(0);

    mcl::binary_t first = to_binary({'A'});
    mcl::binary_t second = to_binary({'B'});
    bool first_ok = false;
    bool second_ok = false;
    std::thread first_sender([&] { first_ok = client.send(0x10, first, connection); });
    bytes request_a;
    ASSERT_EQ(read_frame(server.from_peer(), 5000, request_a), read_result::frame);
    std::thread second_sender([&] { second_ok = client.send(0x11, second, connection); });
    bytes request_b;
    ASSERT_EQ(read_frame(server.from_peer(), 5000, request_b), read_result::frame);

    const frame::header a = header_of(request_a);
    const frame::header b = header_of(request_b);
    EXPECT_EQ(a.kind, static_cast<std::uint32_t>(frame::request));
    EXPECT_EQ(b.sequence, a.sequence + 1);
    // The later request is answered first.
    ASSERT_TRUE(write_all(server.to_peer(), make_frame(frame::reply, b.id, b.sequence, {'b', 'b'})));
    ASSERT_TRUE(write_all(server.to_peer(), make_frame(frame::reply, a.id, a.sequence, {'a', 'a', 'a'})));
    first_sender.join();
    second_sender.join();
    EXPECT_TRUE(first_ok);
    EXPECT_TRUE(second_ok);
    EXPECT_EQ(to_bytes(first), bytes({'a', 'a', 'a'}));
    EXPECT_EQ(to_bytes(second), bytes({'b', 'b'}));
}

TEST_F(IpcFramesFromPeer, SequenceStartsAgainAtOneAfterDisconnect)
{
    ASSERT_TRUE(connect_pair("ipc_seq_"));

    bytes seen;
    ASSERT_TRUE(client.post(0x20, to_binary({1})));
    ASSERT_EQ(read_frame(server.from_peer(), 5000, seen), read_result::frame);
    EXPECT_EQ(seen, make_frame(frame::message, 0x20, 1, {1}));
    ASSERT_TRUE(client.post(0x21, mcl::binary_t(), client.connection_at(0)));
    ASSERT_EQ(read_frame(server.from_peer(), 5000, seen), read_result::frame);
    EXPECT_EQ(seen, make_frame(frame::message, 0x21, 2, {}));

    client.disconnect();
    ASSERT_TRUE(server.renew_pipes());
    ASSERT_TRUE(client.connect(name.c_str(), 2000));
    ASSERT_TRUE(server.accept());
    ASSERT_TRUE(client.post(0x22, to_binary({3})));
    ASSERT_EQ(read_frame(server.from_peer(), 5000, seen), read_result::frame);
    EXPECT_EQ(header_of(seen).sequence, 1u);
}

// A reply under the request's sequence but with another id answers some other request (the pipes of the pair
// may come from two connections): it is never taken for the answer, and the connection ends at once.
TEST_F(IpcFramesFromPeer, AReplyCarryingAnotherIdIsNotTakenAndEndsTheConnection)
{
    captured_mcl_log log;
    ASSERT_TRUE(connect_pair("ipc_crossed_"));
    std::thread answer([&] {
        bytes request;
        if (read_frame(server.from_peer(), 5000, request) == read_result::frame)
            write_all(server.to_peer(), make_frame(frame::reply, header_of(request).id + 1,
                                                   header_of(request).sequence, {1, 0}));
    });
    mcl::binary_t payload = to_binary({'x'});
    const DWORD started = ::GetTickCount();
    EXPECT_FALSE(client.send(0x31, payload, client.connection_at(0)));
    EXPECT_LT(::GetTickCount() - started, 3000u);
    answer.join();
    EXPECT_EQ(to_bytes(payload), bytes({'x'}));
    EXPECT_EQ(client.connection_count(), 0u);
    EXPECT_TRUE(log.contains("[mcl::ipc_peer::dispatch:690] - Reply [50] does not answer the waiting request"))
        << log.text();
}

TEST_F(IpcFramesFromPeer, SendEndsAtItsNextPollWhenTheConnectionBreaks)
{
    captured_mcl_log log;
    ASSERT_TRUE(connect_pair("ipc_broken_"));

    // A reply whose length cannot be trusted breaks the connection as surely as a vanished listener.
    std::thread answer([&] {
        bytes request;
        if (read_frame(server.from_peer(), 5000, request) != read_result::frame)
            return;
        bytes hostile = make_frame(frame::reply, header_of(request).id, header_of(request).sequence, {1});
        hostile[12] = 0xFF;
        hostile[15] = 0x7F;
        write_all(server.to_peer(), hostile);
    });
    mcl::binary_t payload = to_binary({'x'});
    const DWORD started = ::GetTickCount();
    EXPECT_FALSE(client.send(0x30, payload, client.connection_at(0)));
    EXPECT_LT(::GetTickCount() - started, 3000u);
    answer.join();
    EXPECT_EQ(client.connection_count(), 0u);

    // The listener side goes away while a second send waits.
    ASSERT_TRUE(server.renew_pipes());
    ASSERT_TRUE(client.connect(name.c_str(), 2000));
    ASSERT_TRUE(server.accept());
    std::thread vanish([&] {
        bytes request;
        if (read_frame(server.from_peer(), 5000, request) == read_result::frame)
            server.close_pipes();
    });
    const DWORD second_start = ::GetTickCount();
    EXPECT_FALSE(client.send(0x31, payload, client.connection_at(0)));
    EXPECT_LT(::GetTickCount() - second_start, 3000u);
    vanish.join();
    EXPECT_TRUE(log.contains("[mcl::ipc_peer::send:523] - IPC connection has been terminated when waiting for response "
                             "for message [48]")) << log.text();
    EXPECT_TRUE(log.contains("waiting for response for message [49]")) << log.text();
    EXPECT_FALSE(log.contains("Time out when waiting")) << log.text();
}

TEST(IpcFrames, ListenerWithoutItsConnectedEventGivesUpInsteadOfSpinning)
{
    captured_mcl_log log;
    const std::string name = unique_pipe_name("ipc_noevent_");
    // An object of another type under the event's name makes the event impossible to create.
    const mcl::mswin::unique_handle squatter(
        ::CreateMutexA(nullptr, FALSE, ("Global\\" + name + "_EV_CONNECTED").c_str()));
    ASSERT_TRUE(squatter);
    {
        mcl::ipc_peer server;
        server.set_name(name);
        std::atomic<bool> returned{false};
        std::thread listening([&] {
            server.run_listener();
            returned = true;
        });
        const bool gave_up = eventually([&] { return returned.load(); }, 5000);
        if (!gave_up)
            server.disconnect();
        listening.join();
        EXPECT_TRUE(gave_up);
        EXPECT_EQ(server.connection_count(), 0u);
    }
    EXPECT_TRUE(log.contains("[mcl::ipc_peer::run_listener:701] - Failed to create the connected event for pipe[" +
                             name + "]")) << log.text();
}

TEST_F(IpcFramesFromPeer, DisconnectFromAListenerThatStoppedReadingDoesNotHang)
{
    ASSERT_TRUE(connect_pair("ipc_deaf_"));
    // Bytes the other side never reads stay in the pipe; closing flushes, and a flush waits for the reader.
    ASSERT_TRUE(client.post(0x50, to_binary(bytes(1000, 0x11))));
    ::Sleep(100);
    const DWORD started = ::GetTickCount();
    client.disconnect();
    EXPECT_LT(::GetTickCount() - started, 6000u);
    EXPECT_EQ(client.connection_count(), 0u);
}

} // namespace
