#include "ipc_test_support.h"

#include "mcl/frame.h"

#include <psapi.h>

namespace ipctest {

namespace {

std::string pipe_path(const std::string& name, const char* suffix) { return "\\\\.\\pipe\\" + name + suffix; }

std::string object_path(const std::string& name, const char* suffix) { return "Global\\" + name + suffix; }

HANDLE open_pipe(const std::string& path, DWORD access)
{
    for (int attempt = 0; attempt < 500; ++attempt) {
        HANDLE pipe = ::CreateFileA(path.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE)
            return pipe;
        ::Sleep(10);
    }
    return nullptr;
}

} // namespace

std::string unique_pipe_name(const char* prefix)
{
    return fltest::narrow(fltest::unique_name(fltest::widen(prefix).c_str()));
}

bytes make_frame(std::uint32_t kind, std::uint32_t id, std::uint32_t sequence, const bytes& payload)
{
    mcl::binary_t frame;
    mcl::frame::build(kind, id, sequence, to_binary(payload), frame);
    return to_bytes(frame);
}

bytes to_bytes(const mcl::binary_t& payload) { return bytes(payload.begin(), payload.end()); }

mcl::binary_t to_binary(const bytes& payload)
{
    return mcl::binary_t(payload.data(), static_cast<std::uint32_t>(payload.size()));
}

std::size_t peak_memory()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
}

listener::listener(const char* prefix) : name_(unique_pipe_name(prefix)), peer_(&handler_)
{
    handler_.attach(&peer_);
    peer_.set_name(name_);
    thread_ = std::thread([this] { peer_.run_listener(); });
    eventually([this] { return peer_.connection_count() >= 1; });
}

listener::~listener()
{
    peer_.disconnect();
    thread_.join();
}

bool write_all(HANDLE pipe, const bytes& data)
{
    DWORD written = 0;
    return ::WriteFile(pipe, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
           written == data.size();
}

read_result read_frame(HANDLE pipe, DWORD timeout_ms, bytes& frame)
{
    frame.clear();
    for (DWORD waited = 0;; waited += 5) {
        unsigned char header[mcl::frame::header_size];
        DWORD peeked = 0;
        DWORD available = 0;
        if (!::PeekNamedPipe(pipe, header, sizeof header, &peeked, &available, nullptr))
            return read_result::broken;
        mcl::frame::header head;
        if (mcl::frame::read_header(header, peeked, head) && available >= mcl::frame::wire_size(head.length)) {
            frame.resize(static_cast<std::size_t>(mcl::frame::wire_size(head.length)));
            DWORD got = 0;
            if (!::ReadFile(pipe, frame.data(), static_cast<DWORD>(frame.size()), &got, nullptr) || got != frame.size())
                return read_result::broken;
            return read_result::frame;
        }
        if (waited >= timeout_ms)
            return read_result::timed_out;
        ::Sleep(5);
    }
}

bool raw_client::open(const std::string& name)
{
    to_listener_.reset(open_pipe(pipe_path(name, "_INBOND"), GENERIC_WRITE));
    from_listener_.reset(open_pipe(pipe_path(name, "_OUTBOUND"), GENERIC_READ));
    mcl::mswin::unique_handle connected(
        ::OpenEventA(EVENT_MODIFY_STATE, FALSE, object_path(name, "_EV_CONNECTED").c_str()));
    if (connected)
        ::SetEvent(connected.get());
    return to_listener_ && from_listener_ && connected;
}

void raw_client::close()
{
    to_listener_.reset();
    from_listener_.reset();
}

bool raw_listener::create(const std::string& name)
{
    name_ = name;
    mutex_.reset(::CreateMutexA(nullptr, FALSE, object_path(name, "_MTX_CONNECTING").c_str()));
    connected_event_.reset(::CreateEventA(nullptr, TRUE, FALSE, object_path(name, "_EV_CONNECTED").c_str()));
    return mutex_ && connected_event_ && renew_pipes();
}

bool raw_listener::renew_pipes()
{
    close_pipes();
    ::ResetEvent(connected_event_.get());
    from_peer_.reset(::CreateNamedPipeA(pipe_path(name_, "_INBOND").c_str(), PIPE_ACCESS_INBOUND, 0, 255, 4096, 4096,
                                        5000, nullptr));
    to_peer_.reset(::CreateNamedPipeA(pipe_path(name_, "_OUTBOUND").c_str(), PIPE_ACCESS_OUTBOUND, 0, 255, 4096,
                                      4096, 5000, nullptr));
    return from_peer_ && to_peer_;
}

void raw_listener::close_pipes()
{
    from_peer_.reset();
    to_peer_.reset();
}

bool raw_listener::accept()
{
    const auto connect = [](HANDLE pipe) {
        return ::ConnectNamedPipe(pipe, nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED;
    };
    return connect(from_peer_.get()) && connect(to_peer_.get());
}

} // namespace ipctest
