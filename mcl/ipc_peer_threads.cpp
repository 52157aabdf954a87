// The peer's three threads: the read thread cuts frames and dispatches them, the write thread drains the
// write queues, the event thread runs the handlers and queues their replies.
#include "mcl/ipc_peer.h"

#include "mcl/frame.h"
#include "mcl/log.h"
#include "mcl/mswin/error_text.h"

#include <optional>

namespace mcl {

namespace {

// The platform's wait limit; two places go to the stop and refresh events.
constexpr std::uint32_t max_wait_handles = MAXIMUM_WAIT_OBJECTS;
constexpr std::uint32_t first_channel_slot = 2;

} // namespace

ipc_peer::pipe_thread::pipe_thread(ipc_peer& owner) : owner(owner) { refresh_event.create(); }

ipc_peer::pipe_thread::~pipe_thread() { stop(10); }

void ipc_peer::pipe_thread::stop(unsigned seconds)
{
    {
        scoped_lock guard(state_lock);
        if (thread_handle)
            ::CancelSynchronousIo(thread_handle.get());
    }
    thread::stop(seconds);
}

void ipc_peer::pipe_thread::build_wait_list(pointer_buffer& handles, std::vector<ipc_connection_ptr>& watched)
{
    handles.clear();
    watched.clear();
    void* const fixed[first_channel_slot] = {stop_event.handle(), refresh_event.handle()};
    handles.append(fixed, first_channel_slot);
    scoped_lock guard(owner.connections_lock_);
    for (const ipc_connection_ptr& connection : owner.connections_) {
        if (handles.size() == max_wait_handles)
            break;
        void* const signal = channel_event(*connection);
        handles.append(&signal, 1);
        watched.push_back(connection);
    }
}

DWORD ipc_peer::pipe_thread::run()
{
    if (refresh_event.handle() == nullptr) {
        MCL_LOG("mcl::ipc_peer::pipe_thread::run", 622, "The ipc thread has no refresh event, it cannot run");
        return 1;
    }
    pointer_buffer handles;
    std::vector<ipc_connection_ptr> watched;
    build_wait_list(handles, watched);
    for (;;) {
        const DWORD result = ::WaitForMultipleObjects(handles.size(), handles.data(), FALSE, INFINITE);
        if (result == WAIT_OBJECT_0)
            return 0;
        if (result == WAIT_FAILED && !drop_unwaitable(handles, watched))
            return 1;
        const DWORD index = result - WAIT_OBJECT_0;
        if (result == WAIT_FAILED || index == 1 || index >= handles.size()) {
            refresh_event.reset();
            build_wait_list(handles, watched);
            continue;
        }
        serve_signalled(index - first_channel_slot, handles[index]);
    }
}

bool ipc_peer::pipe_thread::drop_unwaitable(const pointer_buffer& handles,
                                            const std::vector<ipc_connection_ptr>& watched)
{
    const DWORD error = ::GetLastError();
    bool dropped = false;
    for (std::uint32_t slot = 0; slot < handles.size(); ++slot) {
        if (::WaitForSingleObject(handles[slot], 0) != WAIT_FAILED)
            continue;
        if (slot < first_channel_slot)
            break;
        MCL_LOG("mcl::ipc_peer::pipe_thread::run", 641,
                "Failed to wait on an ipc channel, error: [%d:%s], abort the ipc connection.",
                static_cast<int>(error), mswin::error_text(error));
        owner.remove_connection(watched[slot - first_channel_slot]);
        dropped = true;
    }
    // Rebuilding and waiting again would fail the same way for ever, at full speed.
    if (!dropped)
        MCL_LOG("mcl::ipc_peer::pipe_thread::run", 648, "Failed to wait on the ipc channels, error: [%d:%s], the "
                "ipc thread ends.", static_cast<int>(error), mswin::error_text(error));
    return dropped;
}

void ipc_peer::pipe_thread::serve_signalled(std::size_t index, HANDLE signalled)
{
    const ipc_connection_ptr connection = owner.connection_at(index);
    // The list may have changed since the wait began; then the signal belongs to the next rebuild.
    if (!connection || channel_event(*connection) != signalled)
        return;
    serve(connection);
}

HANDLE ipc_peer::msg_read_thread::channel_event(ipc_connection& connection)
{
    return connection.read_channel().io_event_handle();
}

void ipc_peer::msg_read_thread::serve(const ipc_connection_ptr& connection)
{
    std::vector<binary_t> frames;
    const bool healthy = connection->read_channel().read(frames);
    // The whole frames that came before a fault are still delivered: a reply among them reaches its send.
    std::vector<ipc_event> events;
    for (binary_t& frame : frames)
        owner.dispatch(connection, std::move(frame), events);
    owner.post_events(events);
    if (!healthy)
        owner.remove_connection(connection);
}

HANDLE ipc_peer::msg_write_thread::channel_event(ipc_connection& connection)
{
    return connection.write_channel().io_event_handle();
}

void ipc_peer::msg_write_thread::serve(const ipc_connection_ptr& connection)
{
    if (connection->write_channel().complete_write())
        return;
    owner.remove_connection(connection);
    MCL_LOG("mcl::ipc_peer::msg_write_thread::run", 653, "ipc channel write failed, abort the ipc connection.");
}

bool ipc_peer::store_reply(const request_key& key, const frame::header& head, binary_t&& frame)
{
    scoped_lock guard(sync_replies_lock_);
    // Only a send that still waits can ever pick a reply up; keeping others would let the other side grow our
    // memory without bound.
    const auto waiting = sync_replies_.find(key);
    if (waiting == sync_replies_.end())
        return true;
    if (waiting->second.id != head.id)
        return false;
    // The payload moves to the front of the frame's own storage instead of into a copy.
    frame.write(0, frame.data() + frame::header_size, head.length);
    if (head.length == 0)
        frame.clear();
    waiting->second.payload = std::move(frame);
    return true;
}

void ipc_peer::dispatch(const ipc_connection_ptr& connection, binary_t&& frame, std::vector<ipc_event>& events)
{
    frame::header head;
    if (!frame::read_header(frame.data(), frame.size(), head))
        return;
    const request_key key(connection.get(), head.sequence);
    switch (head.kind) {
    case frame::reply: {
        if (store_reply(key, head, std::move(frame)))
            return;
        // A reply under a waiting request's sequence with another request's id is not this connection's
        // answer: the pipes do not belong together (another process may hold one end of the pair) or the other
        // side is broken. The request then has no answer, and nothing read here is taken for one.
        MCL_LOG("mcl::ipc_peer::dispatch", 690,
                "Reply [%d] does not answer the waiting request, abort the ipc connection.", static_cast<int>(head.id));
        remove_connection(connection);
        return;
    }
    case frame::async_reply: {
        ipc_msg_handler* handler = nullptr;
        {
            scoped_lock guard(async_requests_lock_);
            const auto registered = async_requests_.find(key);
            if (registered != async_requests_.end()) {
                handler = registered->second;
                async_requests_.erase(registered);
            }
        }
        if (handler != nullptr)
            queue_event(connection, std::move(frame), handler, events);
        return;
    }
    case frame::request:
    case frame::async_request:
    case frame::message:
        queue_event(connection, std::move(frame), default_handler_, events);
        return;
    default:
        return;
    }
}

void ipc_peer::queue_event(const ipc_connection_ptr& connection, binary_t&& frame, ipc_msg_handler* handler,
                           std::vector<ipc_event>& events)
{
    connection->add_backlog(ipc_connection::backlog_cost(frame));
    events.push_back(ipc_event{connection, std::move(frame), handler});
}

void ipc_peer::post_events(std::vector<ipc_event>& events)
{
    if (events.empty())
        return;
    // As post_event for each, but the records are moved, not copied, and the event thread is woken once
    // for the lot instead of once per tiny frame.
    scoped_lock guard(queue_lock);
    for (ipc_event& record : events)
        queue.push_back(std::move(record));
    wake_event.set();
}

void ipc_peer::process_events()
{
    for (;;) {
        // A stop is noticed between two records, not only after a whole queue of them.
        if (stop_requested())
            return;
        std::optional<ipc_event> record;
        {
            scoped_lock guard(queue_lock);
            if (queue.empty())
                return;
            record.emplace(std::move(queue.front()));
            queue.pop_front();
        }
        const std::int32_t result = handle_event(*record);
        if (record->connection && record->frame.size() >= frame::header_size)
            record->connection->drop_backlog(ipc_connection::backlog_cost(record->frame));
        if (result < 0)
            return;
    }
}

std::int32_t ipc_peer::handle_event(const ipc_event& record)
{
    if (record.handler == nullptr)
        return 0;
    frame::header head;
    if (!frame::read_header(record.frame.data(), record.frame.size(), head))
        return 0;
    binary_t payload = frame::payload_of(record.frame.data(), record.frame.size());
    const std::int32_t result = record.handler->handle_message(record.connection, head.id, payload);
    const bool wants_reply = head.kind == frame::request || head.kind == frame::async_request;
    if (result < 0 || !wants_reply || !record.connection)
        return result;
    const std::uint32_t reply_kind = head.kind == frame::request ? frame::reply : frame::async_reply;
    binary_t reply;
    if (frame::build(reply_kind, head.id, head.sequence, payload, reply))
        queue_frame(record.connection, std::move(reply));
    else
        MCL_LOG("mcl::ipc_peer::handle_event", 611, "Reply to message [%d] of %u bytes is too large to send",
                static_cast<int>(head.id), payload.size());
    return result;
}

} // namespace mcl
