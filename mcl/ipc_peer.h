// One endpoint of the library's local IPC: it connects to a listening peer by name, or listens under its own
// name for any number of connecting peers, and exchanges frames over each connection: requests that block
// their sender until the reply comes, one-way messages and replies. Incoming requests and messages reach a
// handler on the peer's event thread; a read thread and a write thread serve the pipes of all connections.
#pragma once

#include "mcl/buffer.h"
#include "mcl/event.h"
#include "mcl/event_thread.h"
#include "mcl/ipc_channel.h"
#include "mcl/lock.h"
#include "mcl/mutex.h"
#include "mcl/share_obj.h"
#include "mcl/thread.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace mcl {

namespace frame {
struct header;
}

using ipc_connection_ptr = share_ptr<ipc_connection>;

class ipc_msg_handler {
public:
    virtual ~ipc_msg_handler() = default;
    // 0 or more: handled, and for a request the payload as left here is the reply. Negative: no reply, and
    // the event queue is not drained further until the next event arrives.
    virtual std::int32_t handle_message(const ipc_connection_ptr& connection, std::uint32_t id, binary_t& payload) = 0;
};

// What the read thread hands to the event thread for one incoming frame.
struct ipc_event {
    ipc_connection_ptr connection;
    binary_t frame;  // header and payload
    ipc_msg_handler* handler = nullptr;
};

class ipc_peer : public event_thread<ipc_event> {
public:
    static constexpr const char* default_name = "OVClientHelperCLI";
    static constexpr DWORD reply_poll_ms = 50;
    static constexpr DWORD reply_timeout_ms = 180000;
    static constexpr DWORD connect_retry_ms = 500;
    static constexpr unsigned thread_stop_seconds = 3;
    // What disconnect gives the queued frames, all connections together, to reach the other side.
    static constexpr DWORD queue_flush_ms = 1000;
    // What disconnect gives run_listener, running on another thread, to return.
    static constexpr DWORD listener_stop_ms = 10000;

    explicit ipc_peer(ipc_msg_handler* default_handler = nullptr);
    ~ipc_peer() override;

    std::int32_t handle_event(const ipc_event& record) override;
    // As the event thread's, but it looks at the stop request between records and lets the read thread
    // know when a connection's frames no longer wait.
    void process_events() override;

    // Listening side, under name(): prepares one pipe pair after another for connecting peers. Returns
    // only when the connected event cannot be made or the peer is disconnected.
    virtual void run_listener();
    // Connecting side: the handshake on `name`, retried every 500 ms while the listener is absent or the pipes
    // opened are not served by a trusted server, and done within `timeout_ms` (give or take one retry) whoever
    // holds the connecting mutex or the pipe instances.
    virtual bool connect(const char* name, std::uint32_t timeout_ms);
    virtual void remove_connection(const ipc_connection_ptr& connection);
    // Stops the threads and forgets every connection; the next frame carries sequence 1 again.
    virtual void disconnect();
    virtual void connections_changed();

    ipc_connection_ptr new_listen_connection(const char* pipe_base_name);

    // Blocking request: true with the reply in `payload`; false when the connection went, the reply did not
    // come within 3 minutes, or there is no connection.
    bool send(std::uint32_t id, binary_t& payload, const ipc_connection_ptr& connection);
    // One-way message to `connection`, or to every connection when it is empty.
    bool post(std::uint32_t id, const binary_t& payload, const ipc_connection_ptr& connection = ipc_connection_ptr());

    ipc_connection_ptr connection_at(std::size_t index);
    std::size_t connection_count();

    const std::string& name() const { return name_; }
    void set_name(const std::string& name) { name_ = name; }

protected:
    // Connecting side: asked once both pipes of `name` are open, before anything goes over them. False drops
    // the connection, and connect tries again while its time lasts. Any process may have made pipes under a
    // name; this one trusts all.
    virtual bool server_trusted(const char* name, ipc_connection& connection);

private:
    // One handshake on `name` by `deadline`: true with both pipes of `connection` open.
    bool open_connection(const char* name, ULONGLONG deadline, ipc_connection_ptr& connection);

    // The read and write threads: both wait on their stop and refresh events and on one event per
    // connection, and serve the connection whose event fired.
    class pipe_thread : public thread {
    public:
        explicit pipe_thread(ipc_peer& owner);
        ~pipe_thread() override;
        void stop(unsigned seconds) override;
        DWORD run() override;
        void refresh() { refresh_event.set(); }

    protected:
        virtual HANDLE channel_event(ipc_connection& connection) = 0;
        virtual void serve(const ipc_connection_ptr& connection) = 0;

        ipc_peer& owner;
        event refresh_event;

    private:
        // The connections are held while their events are waited on, so no handle in the list can close.
        void build_wait_list(pointer_buffer& handles, std::vector<ipc_connection_ptr>& watched);
        void serve_signalled(std::size_t index, HANDLE signalled);
        // After a failed wait: drops the connections whose event cannot be waited on. False when the fault
        // lies elsewhere (the thread's own events), so that waiting again would only fail again.
        bool drop_unwaitable(const pointer_buffer& handles, const std::vector<ipc_connection_ptr>& watched);
    };

public:
    class msg_read_thread : public pipe_thread {
    public:
        using pipe_thread::pipe_thread;

    private:
        HANDLE channel_event(ipc_connection& connection) override;
        void serve(const ipc_connection_ptr& connection) override;
    };

    class msg_write_thread : public pipe_thread {
    public:
        using pipe_thread::pipe_thread;

    private:
        HANDLE channel_event(ipc_connection& connection) override;
        void serve(const ipc_connection_ptr& connection) override;
    };

private:
    using request_key = std::pair<const ipc_connection*, std::uint32_t>;

    std::uint32_t next_sequence();
    void queue_frame(const ipc_connection_ptr& connection, const binary_t& frame);
    void queue_frame(const ipc_connection_ptr& connection, binary_t&& frame);
    void dispatch(const ipc_connection_ptr& connection, binary_t&& frame, std::vector<ipc_event>& events);
    // Hands a reply to the send waiting under `key`. False when that send waits for another id.
    bool store_reply(const request_key& key, const frame::header& head, binary_t&& frame);
    // Makes the record for the event thread, counting the frame against its connection's backlog.
    void queue_event(const ipc_connection_ptr& connection, binary_t&& frame, ipc_msg_handler* handler,
                     std::vector<ipc_event>& events);
    void post_events(std::vector<ipc_event>& events);
    void wait_for_listener();
    void flush_queues(const std::vector<ipc_connection_ptr>& connections);
    bool wait_for_reply(std::uint32_t id, const request_key& key, binary_t& payload);
    bool wait_for_client();
    void shut_down();
    template <typename Table>
    static void erase_connection(Table& table, const ipc_connection* connection);

    std::string name_ = default_name;
    ipc_msg_handler* default_handler_;
    std::map<request_key, ipc_msg_handler*> async_requests_;
    lock async_requests_lock_;
    // A send that waits: the id its reply must carry, and the reply's payload once it came (empty until then).
    struct awaited_reply {
        std::uint32_t id = 0;
        binary_t payload;
    };
    std::map<request_key, awaited_reply> sync_replies_;
    lock sync_replies_lock_;
    std::vector<ipc_connection_ptr> connections_;
    msg_read_thread reader_;
    msg_write_thread writer_;
    std::unique_ptr<mutex> connecting_mutex_;
    event connected_event_;
    // Lets a thread blocked in run_listener return when the peer is disconnected.
    event listener_stop_;
    // Set while no thread is inside run_listener: disconnect and the destructor wait for it.
    event listener_done_;
    lock connections_lock_;
    lock sequence_lock_;
    std::uint32_t sequence_ = 0;
};

} // namespace mcl
