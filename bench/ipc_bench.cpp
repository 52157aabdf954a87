// The IPC peer against a raw overlapped pipe round trip, many senders on one connection against one, and
// bulk transfers (an 8 MiB echo, 4 MiB of 17-byte one-way frames) against a raw overlapped pipe moving the
// same bytes, all measured in the same run. Each bulk transfer runs in a process of its own, so that the
// peak working set it reports is its own. Prints figures and ratios.
#include "listener_protocol.h"
#include "mcl/ipc_peer.h"
#include "mcl/payload.h"
#include "mcl/mswin/unique_resource.h"
#include "scripted_handler.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
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


// ---- Bulk transfers, each in a process of its own -------------------------------------------------------

constexpr std::uint32_t echo_bytes = 8u << 20;
constexpr std::uint32_t tiny_frame = 17;
constexpr std::uint32_t tiny_count = (4u << 20) / tiny_frame;

std::size_t peak_working_set()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters) ? counters.PeakWorkingSetSize
                                                                                     : 0;
}

// Reads exactly `size` bytes in transfers of `piece` bytes at most.
bool read_exactly(HANDLE pipe, unsigned char* bytes, std::size_t size, std::size_t piece, HANDLE done)
{
    for (std::size_t got = 0; got < size;) {
        const DWORD ask = static_cast<DWORD>(std::min(piece, size - got));
        OVERLAPPED overlapped{};
        overlapped.hEvent = done;
        DWORD moved = 0;
        if (!::ReadFile(pipe, bytes + got, ask, &moved, &overlapped) && ::GetLastError() != ERROR_IO_PENDING)
            return false;
        if (!::GetOverlappedResult(pipe, &overlapped, &moved, TRUE) || moved == 0)
            return false;
        got += moved;
    }
    return true;
}

// Two one-way overlapped byte pipes with 4096-byte buffers, as a peer connection has.
struct raw_pair {
    raw_pair()
    {
        const std::string base = "\\\\.\\pipe\\" + unique("bench_bulk_");
        const DWORD mode = FILE_FLAG_OVERLAPPED;
        inbound.reset(
            ::CreateNamedPipeA((base + "_IN").c_str(), PIPE_ACCESS_INBOUND | mode, 0, 1, 4096, 4096, 0, nullptr));
        outbound.reset(
            ::CreateNamedPipeA((base + "_OUT").c_str(), PIPE_ACCESS_OUTBOUND | mode, 0, 1, 4096, 4096, 0, nullptr));
        to_server.reset(::CreateFileA((base + "_IN").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, mode, nullptr));
        from_server.reset(
            ::CreateFileA((base + "_OUT").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, mode, nullptr));
    }
    bool ok() const { return inbound && outbound && to_server && from_server; }

    unique_handle inbound, outbound, to_server, from_server;
};

// The raw echo: written in one call, read by a server thread, written back in one call and read again. The
// reads are as large as the peer's reads of a large frame.
bool raw_echo(const std::vector<unsigned char>& data)
{
    raw_pair pair;
    if (!pair.ok())
        return false;
    std::thread echo([&] {
        unique_handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::vector<unsigned char> got(data.size());
        if (read_exactly(pair.inbound.get(), got.data(), got.size(), mcl::ipc_read_channel::large_read, done.get()))
            transfer(pair.outbound.get(), true, got.data(), static_cast<DWORD>(got.size()), done.get());
    });
    unique_handle sent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    unique_handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped{};
    overlapped.hEvent = sent.get();
    DWORD moved = 0;
    std::vector<unsigned char> out(data);
    if (!::WriteFile(pair.to_server.get(), out.data(), static_cast<DWORD>(out.size()), &moved, &overlapped) &&
        ::GetLastError() != ERROR_IO_PENDING) {
        echo.join();
        return false;
    }
    ::GetOverlappedResult(pair.to_server.get(), &overlapped, &moved, TRUE);
    std::vector<unsigned char> back(data.size());
    const bool ok = read_exactly(pair.from_server.get(), back.data(), back.size(), mcl::ipc_read_channel::large_read,
                                 done.get()) &&
                    back == data;
    echo.join();
    return ok;
}

// The raw stream of tiny frames: written in one call, read 4096 bytes at a time (as the peer reads them).
bool raw_tiny(const std::vector<unsigned char>& stream)
{
    raw_pair pair;
    if (!pair.ok())
        return false;
    std::thread writer([&] {
        unique_handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::vector<unsigned char> copy(stream);
        transfer(pair.to_server.get(), true, copy.data(), static_cast<DWORD>(copy.size()), done.get());
    });
    unique_handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<unsigned char> got(stream.size());
    const bool ok = read_exactly(pair.inbound.get(), got.data(), got.size(), 4096, done.get()) && got == stream;
    writer.join();
    return ok;
}

// Echoes requests and counts what it handles, keeping nothing.
class counting_handler : public mcl::ipc_msg_handler {
public:
    std::int32_t handle_message(const mcl::ipc_connection_ptr&, std::uint32_t, mcl::binary_t&) override
    {
        ++count;
        return 0;
    }
    std::atomic<std::uint32_t> count{0};
};

struct quiet_pair {
    quiet_pair() : server(&handler)
    {
        server.set_name(unique("bench_quiet_"));
        listening = std::thread([this] { server.run_listener(); });
        connected = client.connect(server.name().c_str(), 5000);
    }
    ~quiet_pair()
    {
        client.disconnect();
        server.disconnect();
        listening.join();
    }

    counting_handler handler;
    mcl::ipc_peer server;
    mcl::ipc_peer client;
    std::thread listening;
    bool connected = false;
};

bool peer_echo(const std::vector<unsigned char>& data)
{
    quiet_pair pair;
    if (!pair.connected)
        return false;
    mcl::binary_t payload(data.data(), static_cast<std::uint32_t>(data.size()));
    return pair.client.send(ipc_listener::echo_request, payload, pair.client.connection_at(0)) &&
           payload.size() == data.size() && std::memcmp(payload.data(), data.data(), data.size()) == 0;
}

// The same stream, written by a raw pipe end into a listening peer that handles every frame.
bool peer_tiny(const std::vector<unsigned char>& stream)
{
    counting_handler handler;
    mcl::ipc_peer server(&handler);
    server.set_name(unique("bench_tiny_"));
    std::thread listening([&] { server.run_listener(); });
    for (int waited = 0; server.connection_count() == 0 && waited < 5000; ++waited)
        ::Sleep(1);
    const std::string pipe = "\\\\.\\pipe\\" + server.name();
    unique_handle to_server(::CreateFileA((pipe + "_INBOND").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    unique_handle from_server(::CreateFileA((pipe + "_OUTBOUND").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    unique_handle connected(::OpenEventA(EVENT_MODIFY_STATE, FALSE, ("Global\\" + server.name() + "_EV_CONNECTED").c_str()));
    bool ok = to_server && from_server && connected && ::SetEvent(connected.get());
    if (ok) {
        std::vector<unsigned char> copy(stream);
        DWORD written = 0;
        ok = ::WriteFile(to_server.get(), copy.data(), static_cast<DWORD>(copy.size()), &written, nullptr) &&
             written == copy.size();
    }
    for (int waited = 0; ok && handler.count.load() < tiny_count && waited < 120000; ++waited)
        ::Sleep(1);
    ok = ok && handler.count.load() == tiny_count;
    server.disconnect();
    listening.join();
    return ok;
}

// Child side: runs one scenario and prints "<ms> <peak working set growth in bytes>" (ms -1 on failure).
int run_scenario(const std::string& name)
{
    std::vector<unsigned char> data(echo_bytes);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 7 + i / 4096);
    std::vector<unsigned char> stream;
    stream.reserve(std::size_t(tiny_count) * tiny_frame);
    const unsigned char frame[tiny_frame] = {4, 0, 0, 0, 0x12, 0x71, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, '*'};
    for (std::uint32_t i = 0; i < tiny_count; ++i)
        stream.insert(stream.end(), frame, frame + tiny_frame);

    const std::size_t before = peak_working_set();
    const auto start = clock_type::now();
    bool ok = false;
    if (name == "raw-echo")
        ok = raw_echo(data);
    else if (name == "peer-echo")
        ok = peer_echo(data);
    else if (name == "raw-tiny")
        ok = raw_tiny(stream);
    else if (name == "peer-tiny")
        ok = peer_tiny(stream);
    const double took = ms_since(start);
    const std::size_t after = peak_working_set();
    std::printf("%.1f %llu\n", ok ? took : -1.0, static_cast<unsigned long long>(after > before ? after - before : 0));
    return ok ? 0 : 1;
}

struct bulk_result {
    double ms = -1;
    double peak_growth = 0;
};

bulk_result run_child(const std::string& scenario)
{
    bulk_result result;
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --scenario " + std::wstring(scenario.begin(), scenario.end());
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!::CreatePipe(&read_end, &write_end, &inherit, 0))
        return result;
    unique_handle reading(read_end);
    unique_handle writing(write_end);
    ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return result;
    unique_handle child(process.hProcess);
    unique_handle child_thread(process.hThread);
    writing.reset();
    std::string output;
    char chunk[256];
    DWORD got = 0;
    while (::ReadFile(reading.get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
        output.append(chunk, got);
    ::WaitForSingleObject(child.get(), INFINITE);
    unsigned long long growth = 0;
    if (std::sscanf(output.c_str(), "%lf %llu", &result.ms, &growth) == 2)
        result.peak_growth = static_cast<double>(growth);
    return result;
}

bool report_bulk(const char* what, const char* raw_name, const char* peer_name, double in_flight)
{
    const bulk_result raw = run_child(raw_name);
    const bulk_result peer = run_child(peer_name);
    const double mib = 1024.0 * 1024.0;
    std::printf("%s: raw pipe %.1f ms (peak +%.1f MiB), peer %.1f ms (peak +%.1f MiB)\n", what, raw.ms,
                raw.peak_growth / mib, peer.ms, peer.peak_growth / mib);
    if (raw.ms <= 0 || peer.ms <= 0)
        return false;
    std::printf("  time peer / raw: %.2f (goal <= 2); peer peak growth / %.1f MiB in flight: %.2f (goal <= 3)\n",
                peer.ms / raw.ms, in_flight / mib, peer.peak_growth / in_flight);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--scenario")
        return run_scenario(argv[2]);

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
    const bool echo_ok = report_bulk("8 MiB echo", "raw-echo", "peer-echo", echo_bytes);
    const bool tiny_ok =
        report_bulk("4 MiB of 17-byte one-way frames", "raw-tiny", "peer-tiny", double(tiny_count) * tiny_frame);
    return peer.failures + serial_failures + parallel_failures == 0 && echo_ok && tiny_ok ? 0 : 1;
}
