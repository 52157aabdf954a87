// The IPC peer against a raw overlapped pipe round trip, and many senders on one connection against one,
// all measured in the same run. Prints figures and ratios.
#include "listener_protocol.h"
#include "mcl/ipc_peer.h"
#include "mcl/payload.h"
#include "mcl/mswin/unique_resource.h"
#include "scripted_handler.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;
using mcl::mswin::unique_handle;

double ms_since(clock_type::time_point start)
{
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

std::string unique(const char* prefix)
{
    return std::string(prefix) + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(::GetTickCount());
}

// One overlapped transfer, waited for.
bool transfer(HANDLE pipe, bool write, unsigned char* bytes, DWORD size, HANDLE done)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = done;
    DWORD moved = 0;
    const BOOL at_once = write ? ::WriteFile(pipe, bytes, size, &moved, &overlapped)
                               : ::ReadFile(pipe, bytes, size, &moved, &overlapped);
    if (!at_once && ::GetLastError() != ERROR_IO_PENDING)
        return false;
    return ::GetOverlappedResult(pipe, &overlapped, &moved, TRUE) && moved == size;
}

// The same shape as a peer connection (two one-way byte pipes, overlapped), with an echo thread behind it.
double raw_round_trip_ms(int rounds)
{
    const std::string base = "\\\\.\\pipe\\" + unique("bench_raw_");
    const DWORD mode = FILE_FLAG_OVERLAPPED;
    unique_handle inbound(::CreateNamedPipeA((base + "_IN").c_str(), PIPE_ACCESS_INBOUND | mode, 0, 1, 4096, 4096, 0, nullptr));
    unique_handle outbound(::CreateNamedPipeA((base + "_OUT").c_str(), PIPE_ACCESS_OUTBOUND | mode, 0, 1, 4096, 4096, 0, nullptr));
    unique_handle to_server(::CreateFileA((base + "_IN").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, mode, nullptr));
    unique_handle from_server(::CreateFileA((base + "_OUT").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, mode, nullptr));
    if (!inbound || !outbound || !to_server || !from_server)
        return -1;

    std::thread echo([&] {
        unique_handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        unsigned char frame[17];
        for (int i = 0; i < rounds; ++i) {
            if (!transfer(inbound.get(), false, frame, sizeof frame, done.get()) ||
                !transfer(outbound.get(), true, frame, sizeof frame, done.get()))
                return;
        }
    });
    unique_handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    unsigned char frame[17] = {1};
    const auto start = clock_type::now();
    int completed = 0;
    for (; completed < rounds; ++completed) {
        if (!transfer(to_server.get(), true, frame, sizeof frame, done.get()) ||
            !transfer(from_server.get(), false, frame, sizeof frame, done.get()))
            break;
    }
    const double total = ms_since(start);
    echo.join();
    return completed == rounds ? total / rounds : -1;
}

struct peer_pair {
    peer_pair() : server(&handler)
    {
        handler.attach(&server);
        server.set_name(unique("bench_peer_"));
        listening = std::thread([this] { server.run_listener(); });
        connected = client.connect(server.name().c_str(), 5000);
    }
    ~peer_pair()
    {
        client.disconnect();
        server.disconnect();
        listening.join();
    }

    ipc_listener::scripted_handler handler;
    mcl::ipc_peer server;
    mcl::ipc_peer client;
    std::thread listening;
    bool connected = false;
};

bool echo_once(mcl::ipc_peer& client, const mcl::ipc_connection_ptr& connection, std::uint32_t tag)
{
    mcl::binary_t payload;
    mcl::put_u32(payload, tag);
    std::uint32_t cursor = 0;
    std::uint32_t back = 0;
    return client.send(ipc_listener::echo_request, payload, connection) && mcl::get_u32(payload, cursor, back) &&
           back == tag;
}

struct timing {
    double mean = 0, min = 0, max = 0;
    int failures = 0;
};

timing peer_round_trip(peer_pair& pair, int rounds)
{
    timing result;
    result.min = 1e9;
    const mcl::ipc_connection_ptr connection = pair.client.connection_at(0);
    double total = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto start = clock_type::now();
        if (!echo_once(pair.client, connection, static_cast<std::uint32_t>(i)))
            ++result.failures;
        const double took = ms_since(start);
        total += took;
        result.min = std::min(result.min, took);
        result.max = std::max(result.max, took);
    }
    result.mean = total / rounds;
    return result;
}

// Every thread sends `per_thread` requests back to back; returns the wall time of the whole lot.
double senders_side_by_side(peer_pair& pair, int threads, int per_thread, int& failures)
{
    const mcl::ipc_connection_ptr connection = pair.client.connection_at(0);
    std::atomic<int> failed{0};
    std::vector<std::thread> senders;
    const auto start = clock_type::now();
    for (int t = 0; t < threads; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < per_thread; ++i) {
                if (!echo_once(pair.client, connection, static_cast<std::uint32_t>(t * 1000 + i)))
                    ++failed;
            }
        });
    }
    for (std::thread& sender : senders)
        sender.join();
    failures = failed.load();
    return ms_since(start);
}

} // namespace

int main()
{
    const double raw = raw_round_trip_ms(500);
    std::printf("raw overlapped pipe round trip (17 bytes, 500 rounds): %.3f ms\n", raw);

    peer_pair pair;
    if (!pair.connected || raw <= 0) {
        std::printf("setup failed (connected=%d)\n", pair.connected ? 1 : 0);
        return 1;
    }
    const timing peer = peer_round_trip(pair, 40);
    std::printf("peer request round trip (4-byte payload, 40 sends): mean %.2f ms, min %.2f, max %.2f, failures %d\n",
                peer.mean, peer.min, peer.max, peer.failures);
    std::printf("  ratio peer / raw: %.1f x; peer / 50 ms poll: %.3f\n", peer.mean / raw,
                peer.mean / mcl::ipc_peer::reply_poll_ms);

    int serial_failures = 0;
    const double one_thread = senders_side_by_side(pair, 1, 50, serial_failures);
    int parallel_failures = 0;
    const double eight_threads = senders_side_by_side(pair, 8, 50, parallel_failures);
    const double poll_floor = 50.0 * mcl::ipc_peer::reply_poll_ms;
    std::printf("1 thread x 50 requests: %.0f ms (failures %d)\n", one_thread, serial_failures);
    std::printf("8 threads x 50 requests on one connection: %.0f ms (failures %d)\n", eight_threads, parallel_failures);
    std::printf("  ratio to 50 x 50 ms = %.0f ms: %.2f; to 1 thread x 50 measured: %.2f; in turn would be %.0f ms\n",
                poll_floor, eight_threads / poll_floor, eight_threads / one_thread, 8 * one_thread);
    return peer.failures + serial_failures + parallel_failures == 0 ? 0 : 1;
}
