// An IPC connection is a pair of one-way byte-mode named pipes opened for overlapped I/O: one carries bytes
// from the connecting side to the listening side ("_INBOND"), the other the reverse ("_OUTBOUND").
#pragma once

#include "mcl/buffer.h"
#include "mcl/event.h"
#include "mcl/lock.h"
#include "mcl/share_obj.h"
#include "mcl/mswin/unique_resource.h"

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

    // Creates (listening side) or opens (connecting side) base_name + the direction's suffix.
    virtual bool create(const char* base_name);
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

    std::uint32_t direction_;
    mswin::unique_handle handle_;
    OVERLAPPED overlapped_{};
    event io_event_;
    binary_t pending_;
    std::uint32_t connected_ = 0;
    // An operation was started and its completion has not been collected yet. Kept apart from the
    // overlapped record, which a call that fails at once may leave looking busy.
    bool io_outstanding_ = false;
    ipc_connection& owner_;

private:
    bool create_listening(const std::string& name);
    bool open_connecting(const std::string& name);
    // The overlapped record and the transfer area must not go while the system may still write to them.
    void cancel_outstanding_io();
};

class ipc_read_channel : public ipc_channel {
public:
    explicit ipc_read_channel(ipc_connection& owner) : ipc_channel(read_direction, owner) {}

    // Collects what arrived and hands back every whole frame, in order. False when the pipe failed or
    // the other side sent a frame header that cannot be trusted; the connection is then to be dropped.
    bool read(std::vector<binary_t>& frames);

private:
    bool issue_reads();
    bool cut_frames(std::vector<binary_t>& frames);
    void keep_tail(std::uint32_t consumed);
    void make_room_for_front_frame();

    unsigned char receive_area_[transfer_size] = {};
};

class ipc_write_channel : public ipc_channel {
public:
    explicit ipc_write_channel(ipc_connection& owner) : ipc_channel(write_direction, owner) {}

    // Any thread: puts a whole frame behind the queued bytes and wakes the write thread.
    void queue(const binary_t& frame);

    // Write thread: finishes the outstanding step and hands everything queued to the system.
    bool complete_write();

private:
    enum class outstanding { finished, still_running, failed };
    outstanding finish_outstanding();
    bool write_queued();

    bool write_in_flight_ = false;
    lock write_lock_;
    // The bytes handed to the outstanding write stay here untouched until it completes; senders append
    // to pending_ meanwhile.
    binary_t handed_;
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

private:
    std::uint32_t role_;
    ipc_read_channel read_channel_;
    ipc_write_channel write_channel_;
    mswin::unique_hlocal descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};

} // namespace mcl
