#include "mcl/ipc_channel.h"

#include "mcl/log.h"
#include "mcl/mswin/error_text.h"

namespace mcl {

namespace {

int code_of(DWORD error) { return static_cast<int>(error); }

} // namespace

bool ipc_read_channel::read(std::vector<binary_t>& frames)
{
    frames.clear();
    if (!collect_outstanding(frames))
        return false;
    // Still running: the next completion wakes us again.
    if (io_outstanding_)
        return true;
    if (pause_while_backlogged())
        return true;
    return read_on(frames);
}

bool ipc_read_channel::collect_outstanding(std::vector<binary_t>& frames)
{
    if (!io_outstanding_) {
        // Nothing outstanding: the pipe was connected at once, or we stopped reading on purpose last time.
        connected_ = 1;
        return true;
    }
    // Reset before asking, as a resume may set the event while a read is still running: a completion after
    // the question sets it again.
    io_event_.reset();
    DWORD transferred = 0;
    const BOOL finished = ::GetOverlappedResult(handle_.get(), &overlapped_, &transferred, FALSE);
    const DWORD error = ::GetLastError();
    if (!finished && error == ERROR_IO_INCOMPLETE)
        return true;
    io_outstanding_ = false;
    if (!connected_) {
        // What completed was the wait for a client. Wine at times cancels that wait before any client came;
        // reading then would fail and drop the pair that waits for the next client, so it waits again.
        if (!finished && error == ERROR_OPERATION_ABORTED)
            return listen();
        connected_ = 1;
        return true;
    }
    if (!finished) {
        // A broken pipe is the ordinary end of a connection.
        if (error != ERROR_BROKEN_PIPE)
            MCL_LOG("mcl::ipc_read_channel::read", 222, "Failed to read from channel, error in overlap result: [%d:%s]",
                    code_of(error), mswin::error_text(error));
        return false;
    }
    return transferred == 0 || accept(transferred, reading_in_place_, frames);
}

bool ipc_read_channel::read_on(std::vector<binary_t>& frames)
{
    std::uint32_t budget = read_budget;
    for (;;) {
        // Within the budget only, and no further once frames are whole (a read of tiny frames yields hundreds,
        // each with bookkeeping of its own): then they go to the handlers, and the thread looks at its stop
        // event and its other connections before it reads on.
        if (budget == 0 || !frames.empty())
            return come_back();
        std::size_t granted = 0;
        unsigned char* room =
            assembler_.missing() > transfer_size ? assembler_.frame_space(large_read, granted) : nullptr;
        if (room == nullptr && assembler_.status() != frame::assembler::state::collecting)
            return stream_usable();
        const bool in_place = room != nullptr;
        prepare_overlapped();
        DWORD transferred = 0;
        if (::ReadFile(handle_.get(), in_place ? room : receive_area_,
                       in_place ? static_cast<DWORD>(granted) : transfer_size, &transferred, &overlapped_)) {
            if (transferred == 0) {
                MCL_LOG("mcl::ipc_read_channel::read", 245, "Failed to read from channel, return zero data");
                return false;
            }
            if (!accept(transferred, in_place, frames))
                return false;
            budget -= transferred < budget ? transferred : budget;
            continue;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_PENDING) {
            io_outstanding_ = true;
            reading_in_place_ = in_place;
            return true;
        }
        if (error == ERROR_MORE_DATA)
            continue;
        MCL_LOG("mcl::ipc_read_channel::read", 254, "Failed to read from channel, error: [%d:%s]", code_of(error),
                mswin::error_text(error));
        return false;
    }
}

bool ipc_read_channel::accept(DWORD count, bool in_place, std::vector<binary_t>& frames)
{
    if (!in_place)
        return take(count, frames);
    assembler_.commit(count, [&frames](binary_t&& whole) { frames.push_back(std::move(whole)); });
    return true;
}

bool ipc_read_channel::take(DWORD count, std::vector<binary_t>& frames)
{
    assembler_.feed(receive_area_, count, [&frames](binary_t&& whole) { frames.push_back(std::move(whole)); });
    return stream_usable();
}

bool ipc_read_channel::stream_usable()
{
    frame::header head;
    switch (assembler_.status()) {
    case frame::assembler::state::collecting:
        return true;
    case frame::assembler::state::oversized:
        // The length comes from the other process; past the limit the stream cannot be trusted any more.
        assembler_.front_header(head);
        MCL_LOG("mcl::ipc_read_channel::read", 262,
                "Failed to read from channel, frame of kind %u declares a payload of %u bytes (limit %u)", head.kind,
                head.length, frame::max_payload);
        return false;
    case frame::assembler::state::out_of_memory:
        assembler_.front_header(head);
        MCL_LOG("mcl::ipc_read_channel::read", 268, "Failed to read from channel, no memory for a frame of %u bytes",
                head.length);
        return false;
    }
    return false;
}

bool ipc_read_channel::pause_while_backlogged()
{
    if (!owner_.backlogged())
        return false;
    paused_.store(true);
    io_event_.reset();
    // The event thread may have caught up between the look and the reset; its resume then found the event
    // still to be reset, so look again.
    if (owner_.backlogged())
        return true;
    paused_.store(false);
    return false;
}

void ipc_read_channel::resume()
{
    if (paused_.exchange(false))
        io_event_.set();
}

bool ipc_read_channel::come_back()
{
    // Reads that completed at once leave nothing outstanding to signal the event; set it ourselves.
    return io_event_.set();
}

} // namespace mcl
