// An IPC connection is a pair of one-way byte-mode named pipes opened for overlapped I/O: one carries bytes
// from the connecting side to the listening side ("_INBOND"), the other the reverse ("_OUTBOUND").
#pragma once

#include "mcl/buffer.h"
#include "mcl/event.h"
#include "mcl/frame.h"
#include "mcl/frame_assembler.h"
#include "mcl/lock.h"
#include "mcl/share_obj.h"
#include "mcl/mswin/unique_resource.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace mcl {

class ipc_connection;

// One pipe end with its single outstanding overlapped operation, whose completion signals io_event.
class ipc_channel {
public:
    enum : std::uint32_t { read_direction = 0, write_direction = 1 };

    static constexpr DWORD transfer_size = 4096;

    ipc_channel(std::uint32_t direction, ipc_connection& owner);
    virtual ~ipc_channel();
    ipc_channel(const ipc_channel&) = delete;
    ipc_channel& operator=(const ipc_channel&) = delete;

    // Creates (listening side) or opens (connecting side) base_name + the direction's suffix. The connecting
    // side waits up to 30 s for a busy pipe.
    virtual bool create(const char* base_name);
    // As create, but a busy pipe is waited for only until `deadline` (a GetTickCount64 time).
    bool create_until(const char* base_name, ULONGLONG deadline);
    virtual void close();
    // Listening side, after create: waits for a client without blocking; io_event fires when one comes.
    virtual bool listen();

    std::uint32_t direction() const { return direction_; }
    HANDLE handle() const { return handle_.get(); }
    HANDLE io_event_handle() const { return io_event_.handle(); }
    bool connected() const { return connected_ != 0; }

    // The full pipe name this channel uses for a base name, given its side and direction.
    std::string full_name(const char* base_name) const;

protected:
    // Clears the overlapped record for the next operation, keeping its event.
    void prepare_overlapped();
    // Waits at most timeout_ms for the outstanding operation to finish; false when it is still running.
    bool wait_for_outstanding(DWORD timeout_ms);

    std::uint32_t direction_;
    mswin::unique_handle handle_;
    OVERLAPPED overlapped_{};
    event io_event_;
    // Write channel: bytes queued and not yet handed to the system. (The read channel's bytes of an
    // unfinished frame live in its assembler.)
    binary_t pending_;
    std::uint32_t connected_ = 0;
    // An operation was started and its completion has not been collected yet. Kept apart from the
    // overlapped record, which a call that fails at once may leave looking busy.
    bool io_outstanding_ = false;
    ipc_connection& owner_;

private:
    bool create_listening(const std::string& name);
    bool open_connecting(const std::string& name, ULONGLONG deadline);
    // The overlapped record and the transfer area must not go while the system may still write to them.
    void cancel_outstanding_io();
};

class ipc_read_channel : public ipc_channel {
public:
    // Bytes read per wake-up of the read thread at most: it then looks at its stop event and its other
    // connections before it reads on.
    static constexpr std::uint32_t read_budget = 256u * 1024u;
    // The rest of a large frame is read straight into its own storage, in pieces up to this size: each read
    // costs a round trip through the system, so 4096-byte pieces would make a large frame slow.
    static constexpr std::uint32_t large_read = 64u * 1024u;

    explicit ipc_read_channel(ipc_connection& owner) : ipc_channel(read_direction, owner) {}
    // An outstanding read may be filling the assembler's storage: it is cancelled before that storage goes.
    ~ipc_read_channel() override { close(); }

    // Collects what arrived and hands back every whole frame, in order. False when the pipe failed, storage
    // for a frame could not be had, or the other side sent a frame header that cannot be trusted; the
    // connection is then to be dropped, after the whole frames handed back with the false result.
    bool read(std::vector<binary_t>& frames);

    // Any thread: reading stopped while the connection's frames wait for the event thread; this takes it up.
    void resume();

private:
    bool collect_outstanding(std::vector<binary_t>& frames);
    bool read_on(std::vector<binary_t>& frames);
    bool take(DWORD count, std::vector<binary_t>& frames);
    bool accept(DWORD count, bool in_place, std::vector<binary_t>& frames);
    // True while the assembler takes the stream; otherwise logs why it refused it.
    bool stream_usable();
    bool pause_while_backlogged();
    // Wakes the read thread for the rest without a read outstanding.
    bool come_back();

    frame::assembler assembler_;
    std::atomic<bool> paused_{false};
    // The outstanding read fills the front frame's storage rather than receive_area_.
    bool reading_in_place_ = false;
    unsigned char receive_area_[transfer_size] = {};
};

class ipc_write_channel : public ipc_channel {
public:
    // Bytes a connection may have queued and not yet written: two frames of the largest size. A peer that
    // sends requests and never reads our replies is dropped at this point instead of growing our memory.
    static constexpr std::uint32_t max_queued = 2u * (frame::header_size + frame::max_payload);

    explicit ipc_write_channel(ipc_connection& owner) : ipc_channel(write_direction, owner) {}

    // Any thread: puts a whole frame behind the queued bytes and wakes the write thread. False, and the
    // connection marked for dropping, when the queue would pass max_queued.
    bool queue(const binary_t& frame);
    bool queue(binary_t&& frame);

    // Write thread: finishes the outstanding step and hands everything queued to the system.
    bool complete_write();

    // With the write thread stopped: writes what is still queued and waits for it, at most timeout_ms, so
    // that a last message reaches the other side before the pipe closes.
    void flush_queue(DWORD timeout_ms);

private:
    enum class outstanding { finished, still_running, failed };
    bool room_for(std::uint32_t size);
    void wake_writer(bool queue_was_empty);
    outstanding finish_outstanding();
    bool write_queued();
    std::uint32_t queued_bytes() const { return pending_.size() + (handed_.size() - written_); }

    bool write_in_flight_ = false;
    bool overflowed_ = false;
    lock write_lock_;
    // The bytes handed to the outstanding write stay here untouched until it completes; senders append
    // to pending_ meanwhile. written_ counts those already taken by the system.
    binary_t handed_;
    std::uint32_t written_ = 0;
};

class ipc_connection : public share_obj {
public:
    enum : std::uint32_t { connecting_role = 0, listening_role = 1 };

    explicit ipc_connection(std::uint32_t role);
    ~ipc_connection() override;

    std::uint32_t role() const { return role_; }
    ipc_read_channel& read_channel() { return read_channel_; }
    ipc_write_channel& write_channel() { return write_channel_; }
    // Inheritable, with a descriptor whose null access list lets any account open the pipes (system
    // defaults when that descriptor could not be built).
    SECURITY_ATTRIBUTES* security_attributes() { return &attributes_; }

    // Bytes of this connection's frames waiting for the event thread (with a share for each record's own
    // keeping). Past max_backlog the read channel stops reading, so the pipe holds the rest and the sender
    // waits, until the event thread has caught up.
    static constexpr std::uint64_t max_backlog = 2u * 1024u * 1024u;
    static std::uint64_t backlog_cost(const binary_t& frame);
    void add_backlog(std::uint64_t bytes) { backlog_.fetch_add(bytes); }
    void drop_backlog(std::uint64_t bytes);
    bool backlogged() const { return backlog_.load() > max_backlog; }

private:
    std::uint32_t role_;
    ipc_read_channel read_channel_;
    ipc_write_channel write_channel_;
    mswin::unique_hlocal descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
    std::atomic<std::uint64_t> backlog_{0};
};

} // namespace mcl
