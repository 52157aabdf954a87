#include "mcl/ipc_channel.h"

#include "mcl/frame.h"
#include "mcl/log.h"
#include "mcl/mswin/error_text.h"

namespace mcl {

namespace {

int code_of(DWORD error) { return static_cast<int>(error); }

} // namespace

bool ipc_read_channel::read(std::vector<binary_t>& frames)
{
    frames.clear();
    DWORD transferred = 0;
    const BOOL finished = ::GetOverlappedResult(handle_.get(), &overlapped_, &transferred, FALSE);
    const DWORD error = ::GetLastError();
    if (finished || error != ERROR_IO_INCOMPLETE)
        io_outstanding_ = false;
    if (connected_) {
        if (!finished) {
            // A broken pipe is the ordinary end of a connection.
            if (error != ERROR_BROKEN_PIPE)
                MCL_LOG("mcl::ipc_read_channel::read", 222,
                        "Failed to read from channel, error in overlap result: [%d:%s]", code_of(error),
                        mswin::error_text(error));
            return false;
        }
        if (transferred > 0)
            pending_.append(receive_area_, transferred);
    } else {
        // What completed was the wait for a client.
        connected_ = 1;
    }
    if (!issue_reads())
        return false;
    return cut_frames(frames);
}

bool ipc_read_channel::issue_reads()
{
    for (;;) {
        prepare_overlapped();
        DWORD transferred = 0;
        if (::ReadFile(handle_.get(), receive_area_, transfer_size, &transferred, &overlapped_)) {
            if (transferred == 0) {
                MCL_LOG("mcl::ipc_read_channel::read", 245, "Failed to read from channel, return zero data");
                return false;
            }
            pending_.append(receive_area_, transferred);
            continue;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_PENDING) {
            io_outstanding_ = true;
            return true;
        }
        if (error == ERROR_MORE_DATA)
            continue;
        MCL_LOG("mcl::ipc_read_channel::read", 254, "Failed to read from channel, error: [%d:%s]", code_of(error),
                mswin::error_text(error));
        return false;
    }
}

bool ipc_read_channel::cut_frames(std::vector<binary_t>& frames)
{
    const frame::cut_summary summary =
        frame::cut_frames(pending_.data(), pending_.size(), [&frames](const unsigned char* start, std::size_t size) {
            frames.emplace_back(start, static_cast<std::uint32_t>(size));
        });
    keep_tail(static_cast<std::uint32_t>(summary.consumed));
    if (!summary.ok) {
        // The length comes from the other process; past the limit the stream cannot be trusted any more.
        frame::header head;
        frame::read_header(pending_.data(), pending_.size(), head);
        MCL_LOG("mcl::ipc_read_channel::read", 262,
                "Failed to read from channel, frame of kind %u declares a payload of %u bytes (limit %u)",
                head.kind, head.length, frame::max_payload);
        frames.clear();
        return false;
    }
    make_room_for_front_frame();
    return true;
}

void ipc_read_channel::keep_tail(std::uint32_t consumed)
{
    if (consumed == 0)
        return;
    if (consumed >= pending_.size()) {
        pending_.clear();
        return;
    }
    const binary_t tail(pending_.data() + consumed, pending_.size() - consumed);
    pending_ = tail;
}

void ipc_read_channel::make_room_for_front_frame()
{
    // A large frame arrives 4096 bytes at a time; growing by 256-byte steps would copy it over and over.
    // Writing nothing behind the contents only moves them to storage of the frame's size.
    frame::header head;
    if (!frame::read_header(pending_.data(), pending_.size(), head))
        return;
    const std::uint32_t needed = static_cast<std::uint32_t>(frame::wire_size(head.length));
    if (needed > pending_.capacity())
        pending_.write(pending_.size(), nullptr, needed - pending_.size());
}

} // namespace mcl
