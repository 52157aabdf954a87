#include "mcl/ipc_peer.h"

#include "mcl/frame.h"
#include "mcl/log.h"

#include <algorithm>

namespace mcl {

namespace {

const char* const pipe_prefix = "\\\\.\\pipe\\";
const char* const object_prefix = "Global\\";

ULONGLONG time_left(ULONGLONG deadline)
{
    const ULONGLONG now = ::GetTickCount64();
    return now < deadline ? deadline - now : 0;
}

} // namespace

ipc_peer::ipc_peer(ipc_msg_handler* default_handler)
    : default_handler_(default_handler), reader_(*this), writer_(*this)
{
    listener_stop_.create();
    listener_done_.create(true);
}

ipc_peer::~ipc_peer()
{
    // The same steps as disconnect, without the connections lock: nobody else may use the peer now.
    shut_down();
}

std::uint32_t ipc_peer::next_sequence()
{
    scoped_lock guard(sequence_lock_);
    return ++sequence_;
}

ipc_connection_ptr ipc_peer::connection_at(std::size_t index)
{
    scoped_lock guard(connections_lock_);
    return index < connections_.size() ? connections_[index] : ipc_connection_ptr();
}

std::size_t ipc_peer::connection_count()
{
    scoped_lock guard(connections_lock_);
    return connections_.size();
}

void ipc_peer::connections_changed()
{
    reader_.refresh();
    writer_.refresh();
}

bool ipc_peer::connect(const char* name, std::uint32_t timeout_ms)
{
    if (name == nullptr)
        return false;
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    start();
    reader_.start();
    writer_.start();

    // Any account may add instances under the service's pipe names, and ours may have opened one of them: that
    // connection is dropped and the handshake begun again, as long as the time allows.
    for (;;) {
        ipc_connection_ptr connection;
        if (!open_connection(name, deadline, connection))
            return false;
        // Checked before the connection is served: nothing is sent to, or taken from, a server we do not trust.
        if (server_trusted(name, *connection)) {
            scoped_lock guard(connections_lock_);
            connections_.push_back(connection);
            connections_changed();
            return true;
        }
        MCL_LOG("mcl::ipc_peer::connect", 446, "The pipe[%s] is not served by the expected process.", name);
        connection = ipc_connection_ptr();
        // Each attempt makes the listener prepare a pipe pair; spaced out, they stay few.
        if (time_left(deadline) <= connect_retry_ms)
            return false;
        ::Sleep(connect_retry_ms);
    }
}

bool ipc_peer::open_connection(const char* name, ULONGLONG deadline, ipc_connection_ptr& connection)
{
    const std::string object_base = std::string(object_prefix) + name;
    mutex connecting;
    bool opened = false;
    while (!opened && time_left(deadline) > 0) {
        opened = connecting.open((object_base + "_MTX_CONNECTING").c_str()) == 0;
        if (!opened)
            ::Sleep(connect_retry_ms);
    }
    if (!opened) {
        MCL_LOG("mcl::ipc_peer::connect", 417,
                "Failed to open the connecting mutex for pipe[%s], peer may not start yet.", name);
        return false;
    }
    // Every account may open the mutex, so anyone can hold it for ever: it only spaces out clients, and
    // after half the time left we go on without it.
    const DWORD mutex_wait_ms = static_cast<DWORD>(time_left(deadline) / 2);
    if (connecting.acquire(mutex_wait_ms) != 0)
        MCL_LOG("mcl::ipc_peer::connect", 423,
                "Failed to acquire the pipe[%s] connecting mutex within %d milli-seconds", name,
                static_cast<int>(mutex_wait_ms));
    mswin::unique_handle connected(
        ::OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, (object_base + "_EV_CONNECTED").c_str()));
    if (!connected) {
        MCL_LOG("mcl::ipc_peer::connect", 432, "Failed to open the connected event for pipe[%s].", name);
        connecting.release();
        return false;
    }

    const std::string pipe_base = std::string(pipe_prefix) + name;
    connection = ipc_connection_ptr(new ipc_connection(ipc_connection::connecting_role));
    const bool created = connection->read_channel().create_until(pipe_base.c_str(), deadline) &&
                         connection->write_channel().create_until(pipe_base.c_str(), deadline);
    // Even when our open failed, the listener must prepare a fresh pair for whoever comes next.
    ::SetEvent(connected.get());
    connecting.release();
    return created;
}

bool ipc_peer::server_trusted(const char*, ipc_connection&) { return true; }

void ipc_peer::run_listener()
{
    // Whoever disconnects waits for this function to return, so that no pipe pair is made, and no member
    // touched, behind its back.
    struct done_on_return {
        event& done;
        ~done_on_return() { done.set(); }
    } done{listener_done_};
    listener_done_.reset();
    listener_stop_.reset();
    const std::string object_base = std::string(object_prefix) + name_;
    connected_event_.close();
    if (connected_event_.create_named((object_base + "_EV_CONNECTED").c_str()) == -1) {
        // Nothing would ever wake us: no client could be accepted under this name.
        const DWORD error = ::GetLastError();
        MCL_LOG("mcl::ipc_peer::run_listener", 701, "Failed to create the connected event for pipe[%s], error [%d]",
                name_.c_str(), static_cast<int>(error));
        connecting_mutex_.reset();
        return;
    }
    start();
    reader_.start();
    writer_.start();

    const std::string pipe_base = std::string(pipe_prefix) + name_;
    for (;;) {
        new_listen_connection(pipe_base.c_str());
        if (!connecting_mutex_) {
            // Clients look for the mutex first: made only once the first pair waits, it cannot send one to
            // pipes that do not exist yet.
            const unsigned char not_inherited = 0;
            connecting_mutex_.reset(new mutex());
            connecting_mutex_->create((object_base + "_MTX_CONNECTING").c_str(), &not_inherited);
        }
        if (!wait_for_client())
            break;
        connected_event_.reset();
    }
    connected_event_.close();
    connecting_mutex_.reset();
}

bool ipc_peer::wait_for_client()
{
    const HANDLE waits[2] = {connected_event_.handle(), listener_stop_.handle()};
    for (;;) {
        const DWORD result = ::WaitForMultipleObjectsEx(2, waits, FALSE, INFINITE, TRUE);
        if (result == WAIT_IO_COMPLETION)
            continue;
        return result == WAIT_OBJECT_0;
    }
}

ipc_connection_ptr ipc_peer::new_listen_connection(const char* pipe_base_name)
{
    ipc_connection_ptr connection(new ipc_connection(ipc_connection::listening_role));
    const bool ready = connection->read_channel().create(pipe_base_name) &&
                       connection->write_channel().create(pipe_base_name) && connection->read_channel().listen() &&
                       connection->write_channel().listen();
    if (!ready) {
        MCL_LOG("mcl::ipc_peer::new_listen_connection", 727, "Failed to setup listener connection");
        return ipc_connection_ptr();
    }
    scoped_lock guard(connections_lock_);
    connections_.push_back(connection);
    connections_changed();
    return connection;
}

void ipc_peer::queue_frame(const ipc_connection_ptr& connection, const binary_t& frame)
{
    connection->write_channel().queue(frame);
}

void ipc_peer::queue_frame(const ipc_connection_ptr& connection, binary_t&& frame)
{
    connection->write_channel().queue(std::move(frame));
}

bool ipc_peer::send(std::uint32_t id, binary_t& payload, const ipc_connection_ptr& connection)
{
    if (!connection)
        return false;
    const request_key key(connection.get(), next_sequence());
    binary_t frame;
    if (!frame::build(frame::request, id, key.second, payload, frame)) {
        MCL_LOG("mcl::ipc_peer::send", 507, "Message [%d] payload of %u bytes is too large to send",
                static_cast<int>(id), payload.size());
        return false;
    }
    {
        // A connection that is already gone gets no entry, so the first poll reports it as terminated
        // instead of waiting the whole time-out for a reply that cannot come.
        scoped_lock guard(connections_lock_);
        if (std::find(connections_.begin(), connections_.end(), connection) != connections_.end()) {
            scoped_lock table_guard(sync_replies_lock_);
            sync_replies_[key].id = id;
        }
    }
    queue_frame(connection, std::move(frame));
    const bool replied = wait_for_reply(id, key, payload);
    scoped_lock guard(sync_replies_lock_);
    sync_replies_.erase(key);
    return replied;
}

bool ipc_peer::wait_for_reply(std::uint32_t id, const request_key& key, binary_t& payload)
{
    long long remaining = reply_timeout_ms;
    for (;;) {
        ::Sleep(reply_poll_ms);
        remaining -= reply_poll_ms;
        {
            scoped_lock guard(sync_replies_lock_);
            const auto entry = sync_replies_.find(key);
            if (entry == sync_replies_.end()) {
                MCL_LOG("mcl::ipc_peer::send", 523,
                        "IPC connection has been terminated when waiting for response for message [%d]",
                        static_cast<int>(id));
                return false;
            }
            if (!entry->second.payload.empty()) {
                payload = std::move(entry->second.payload);
                return true;
            }
        }
        if (remaining < 1)
            break;
    }
    MCL_LOG("mcl::ipc_peer::send", 535, "Time out when waiting for response for message [%d]", static_cast<int>(id));
    return false;
}

bool ipc_peer::post(std::uint32_t id, const binary_t& payload, const ipc_connection_ptr& connection)
{
    binary_t frame;
    if (!frame::build(frame::message, id, next_sequence(), payload, frame)) {
        MCL_LOG("mcl::ipc_peer::post", 551, "Message [%d] payload of %u bytes is too large to send",
                static_cast<int>(id), payload.size());
        return false;
    }
    if (connection) {
        queue_frame(connection, std::move(frame));
        return true;
    }
    scoped_lock guard(connections_lock_);
    for (const ipc_connection_ptr& each : connections_)
        queue_frame(each, frame);
    return true;
}

template <typename Table>
void ipc_peer::erase_connection(Table& table, const ipc_connection* connection)
{
    for (auto entry = table.begin(); entry != table.end();) {
        if (entry->first.first == connection)
            entry = table.erase(entry);
        else
            ++entry;
    }
}

void ipc_peer::remove_connection(const ipc_connection_ptr& connection)
{
    scoped_lock guard(connections_lock_);
    if (!connection)
        return;
    const auto found = std::find(connections_.begin(), connections_.end(), connection);
    if (found == connections_.end()) {
        connections_changed();
        return;
    }
    {
        scoped_lock table_guard(async_requests_lock_);
        erase_connection(async_requests_, connection.get());
    }
    {
        // A send waiting on this connection now finds its entry gone and reports the connection as ended. A
        // reply that came before the end stays for its send, which takes it and removes the entry itself.
        scoped_lock table_guard(sync_replies_lock_);
        for (auto entry = sync_replies_.begin(); entry != sync_replies_.end();) {
            if (entry->first.first == connection.get() && entry->second.payload.empty())
                entry = sync_replies_.erase(entry);
            else
                ++entry;
        }
    }
    connections_.erase(found);
    connections_changed();
}

void ipc_peer::disconnect()
{
    shut_down();
}

void ipc_peer::shut_down()
{
    wait_for_listener();
    // The threads are stopped before the connections lock is taken: one that needs the lock for the step
    // it is in can then finish it and end by itself instead of being terminated in the middle.
    stop(thread_stop_seconds);
    writer_.stop(thread_stop_seconds);
    reader_.stop(thread_stop_seconds);
    // The read thread may have queued frames after the event thread stopped; their records would hold
    // their connections, and so the pipes, open for good.
    clear_events();

    std::vector<ipc_connection_ptr> dropped;
    {
        scoped_lock guard(connections_lock_);
        dropped.swap(connections_);
        {
            scoped_lock table_guard(async_requests_lock_);
            async_requests_.clear();
        }
        {
            scoped_lock table_guard(sync_replies_lock_);
            sync_replies_.clear();
        }
        {
            scoped_lock sequence_guard(sequence_lock_);
            sequence_ = 0;
        }
        connections_changed();
    }
    // Writing what is queued and closing a pipe both wait for the other side: done outside every lock.
    flush_queues(dropped);
    dropped.clear();
}

void ipc_peer::wait_for_listener()
{
    listener_stop_.set();
    if (::WaitForSingleObject(listener_done_.handle(), listener_stop_ms) != WAIT_OBJECT_0)
        MCL_LOG("mcl::ipc_peer::disconnect", 771, "The listener did not return within %u milli-seconds",
                static_cast<unsigned>(listener_stop_ms));
}

void ipc_peer::flush_queues(const std::vector<ipc_connection_ptr>& connections)
{
    // A last one-way message (a release notice) must not be lost because the write thread had no turn.
    const ULONGLONG deadline = ::GetTickCount64() + queue_flush_ms;
    for (const ipc_connection_ptr& connection : connections) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline)
            return;
        connection->write_channel().flush_queue(static_cast<DWORD>(deadline - now));
    }
}

} // namespace mcl
