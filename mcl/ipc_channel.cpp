#include "mcl/ipc_channel.h"

#include "mcl/log.h"
#include "mcl/mswin/error_text.h"
#include "mcl/mswin/security.h"

#include <algorithm>

namespace mcl {

namespace {

constexpr DWORD max_instances = 255;
constexpr DWORD default_timeout_ms = 5000;
constexpr DWORD busy_wait_ms = 30000;
// Identification only: the side that created the pipe may learn who we are but cannot act as us. Without
// it, a process that took the service's pipe name first could impersonate the (administrator) cleaner.
constexpr DWORD connect_flags = FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING | SECURITY_SQOS_PRESENT |
                                SECURITY_IDENTIFICATION;
constexpr DWORD cancel_wait_ms = 1000;
constexpr DWORD flush_wait_ms = 2000;

int code_of(DWORD error) { return static_cast<int>(error); }

DWORD WINAPI flush_entry(void* pipe) { return ::FlushFileBuffers(pipe) ? 0 : ::GetLastError(); }

// Flushing a pipe waits until the other side has read everything. A side that stopped reading (a hung
// service) would hold us for ever, so the flush runs on a helper thread and is cancelled after a while.
void flush_for_a_while(HANDLE pipe)
{
    const mswin::unique_handle flusher(::CreateThread(nullptr, 0, &flush_entry, pipe, 0, nullptr));
    if (!flusher || ::WaitForSingleObject(flusher.get(), flush_wait_ms) == WAIT_OBJECT_0)
        return;
    ::CancelSynchronousIo(flusher.get());
    ::WaitForSingleObject(flusher.get(), cancel_wait_ms);
}

} // namespace

ipc_channel::ipc_channel(std::uint32_t direction, ipc_connection& owner) : direction_(direction), owner_(owner)
{
    io_event_.create();
    overlapped_.hEvent = io_event_.handle();
}

ipc_channel::~ipc_channel()
{
    close();
    pending_.release_storage();
    io_event_.close();
}

std::string ipc_channel::full_name(const char* base_name) const
{
    // Bytes from the connecting side travel through "_INBOND" (spelled so), bytes to it through "_OUTBOUND".
    const bool listening = owner_.role() == ipc_connection::listening_role;
    const bool inbound = listening == (direction_ == read_direction);
    return std::string(base_name) + (inbound ? "_INBOND" : "_OUTBOUND");
}

bool ipc_channel::create(const char* base_name)
{
    return create_until(base_name, ::GetTickCount64() + busy_wait_ms);
}

bool ipc_channel::create_until(const char* base_name, ULONGLONG deadline)
{
    if (base_name == nullptr) {
        MCL_LOG("mcl::ipc_channel::create", 59, "Failed to create ipc channel, invalid parameters");
        return false;
    }
    if (handle_)
        close();
    if (io_event_.handle() == nullptr) {
        // Without it nothing would ever wake the pipe threads for this channel, and a null handle in their
        // wait list makes every wait fail.
        MCL_LOG("mcl::ipc_channel::create", 64, "Failed to create ipc channel, it has no event");
        return false;
    }
    switch (owner_.role()) {
    case ipc_connection::listening_role:
        return create_listening(full_name(base_name));
    case ipc_connection::connecting_role:
        return open_connecting(full_name(base_name), deadline);
    default:
        MCL_LOG("mcl::ipc_channel::create", 142, "Failed to create ipc channel, invalid connection type");
        return false;
    }
}

bool ipc_channel::create_listening(const std::string& name)
{
    const DWORD access = direction_ == read_direction ? PIPE_ACCESS_INBOUND : PIPE_ACCESS_OUTBOUND;
    HANDLE pipe = ::CreateNamedPipeA(name.c_str(), access | FILE_FLAG_OVERLAPPED, 0, max_instances, transfer_size,
                                     transfer_size, default_timeout_ms, owner_.security_attributes());
    if (pipe == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        handle_.reset();
        MCL_LOG("mcl::ipc_channel::create", 91, "Failed to create the named pipe (\"%s\"), error: [%d:%s]",
                name.c_str(), code_of(error), mswin::error_text(error));
        return false;
    }
    handle_.reset(pipe);
    return true;
}

bool ipc_channel::open_connecting(const std::string& name, ULONGLONG deadline)
{
    const DWORD access = direction_ == read_direction ? GENERIC_READ : GENERIC_WRITE;
    for (;;) {
        HANDLE pipe = ::CreateFileA(name.c_str(), access, 0, nullptr, OPEN_EXISTING, connect_flags, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            handle_.reset(pipe);
            // The first read or write step is taken at once: the pipe is already connected.
            if (io_event_.set())
                connected_ = 1;
            return true;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_PIPE_BUSY) {
            MCL_LOG("mcl::ipc_channel::create", 115, "Failed to open the named pipe (\"%s\"), error [%d:%s]",
                    name.c_str(), code_of(error), mswin::error_text(error));
            return false;
        }
        // Whoever keeps every instance busy must not hold us past the caller's time; a wait of 0 would mean
        // the pipe's own default time-out.
        const ULONGLONG now = ::GetTickCount64();
        const ULONGLONG left = now < deadline ? deadline - now : 0;
        const DWORD wait_ms = static_cast<DWORD>(std::min<ULONGLONG>(left, busy_wait_ms));
        if (wait_ms == 0 || !::WaitNamedPipeA(name.c_str(), wait_ms)) {
            MCL_LOG("mcl::ipc_channel::create", 120, "Could not open the named pipe (\"%s\"): the wait timed out.",
                    name.c_str());
            return false;
        }
    }
}

bool ipc_channel::listen()
{
    prepare_overlapped();
    const BOOL result = ::ConnectNamedPipe(handle_.get(), &overlapped_);
    const DWORD error = ::GetLastError();
    if (result) {
        MCL_LOG("mcl::ipc_channel::listen", 170, "Failed to connect the named pipe, error: [%d:%s]", code_of(error),
                mswin::error_text(error));
        return false;
    }
    if (error == ERROR_IO_PENDING) {
        io_outstanding_ = true;
        return true;
    }
    if (error == ERROR_PIPE_CONNECTED) {
        // The client came before we asked: no operation is outstanding, so the first read or write step
        // must find a finished, empty one.
        prepare_overlapped();
        io_event_.set();
        connected_ = 1;
        return true;
    }
    MCL_LOG("mcl::ipc_channel::listen", 188, "Failed to connect the named pipe, error: [%d:%s]", code_of(error),
            mswin::error_text(error));
    return false;
}

void ipc_channel::close()
{
    if (handle_) {
        if (direction_ == write_direction)
            flush_for_a_while(handle_.get());
        if (owner_.role() == ipc_connection::listening_role)
            ::DisconnectNamedPipe(handle_.get());
        cancel_outstanding_io();
        handle_.reset();
    }
    connected_ = 0;
    io_event_.reset();
}

void ipc_channel::cancel_outstanding_io()
{
    ::CancelIoEx(handle_.get(), nullptr);
    if (!io_outstanding_)
        return;
    wait_for_outstanding(cancel_wait_ms);
    io_outstanding_ = false;
}

bool ipc_channel::wait_for_outstanding(DWORD timeout_ms)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    DWORD transferred = 0;
    for (;;) {
        // Reset before asking: a completion after the question sets the event again, so the wait below
        // cannot miss it, and a set left over from a sender cannot make it spin.
        io_event_.reset();
        if (::GetOverlappedResult(handle_.get(), &overlapped_, &transferred, FALSE) ||
            ::GetLastError() != ERROR_IO_INCOMPLETE)
            return true;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline)
            return false;
        ::WaitForSingleObject(io_event_.handle(), static_cast<DWORD>(deadline - now));
    }
}

void ipc_channel::prepare_overlapped()
{
    const HANDLE completion_event = overlapped_.hEvent;
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = completion_event;
}

ipc_connection::ipc_connection(std::uint32_t role) : role_(role), read_channel_(*this), write_channel_(*this)
{
    if (!mswin::make_open_descriptor(descriptor_, attributes_, TRUE)) {
        attributes_.nLength = sizeof(SECURITY_ATTRIBUTES);
        attributes_.lpSecurityDescriptor = nullptr;
        attributes_.bInheritHandle = TRUE;
    }
}

ipc_connection::~ipc_connection()
{
    read_channel_.close();
    write_channel_.close();
}

std::uint64_t ipc_connection::backlog_cost(const binary_t& frame)
{
    // A queued record keeps its frame and a buffer object of its own besides: a flood of tiny frames costs
    // mostly the latter.
    return std::uint64_t(frame.size()) + sizeof(binary_t) + 64;
}

void ipc_connection::drop_backlog(std::uint64_t bytes)
{
    std::uint64_t held = backlog_.load();
    while (!backlog_.compare_exchange_weak(held, held > bytes ? held - bytes : 0)) {
    }
    if (!backlogged())
        read_channel_.resume();
}

} // namespace mcl
