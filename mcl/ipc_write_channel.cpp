#include "mcl/ipc_channel.h"

#include "mcl/log.h"
#include "mcl/mswin/error_text.h"

namespace mcl {

namespace {

int code_of(DWORD error) { return static_cast<int>(error); }

} // namespace

bool ipc_write_channel::room_for(std::uint32_t size)
{
    if (overflowed_)
        return false;
    const std::uint64_t queued = queued_bytes();
    if (queued + size <= max_queued)
        return true;
    // The other side does not read what we send. Dropping the connection, as for an oversized frame, is
    // better than holding ever more replies for it.
    overflowed_ = true;
    MCL_LOG("mcl::ipc_write_channel::queue", 292,
            "Failed to queue a frame of %u bytes, %u bytes are still waiting to be written (limit %u)", size,
            static_cast<std::uint32_t>(queued), max_queued);
    io_event_.set();
    return false;
}

bool ipc_write_channel::queue(const binary_t& frame)
{
    scoped_lock guard(write_lock_);
    if (!room_for(frame.size()))
        return false;
    const bool was_empty = pending_.empty();
    pending_.append(frame);
    wake_writer(was_empty);
    return true;
}

bool ipc_write_channel::queue(binary_t&& frame)
{
    scoped_lock guard(write_lock_);
    if (!room_for(frame.size()))
        return false;
    // A large frame alone in the queue is taken over instead of copied.
    const bool was_empty = pending_.empty();
    if (was_empty)
        pending_ = std::move(frame);
    else
        pending_.append(frame);
    wake_writer(was_empty);
    return true;
}

void ipc_write_channel::wake_writer(bool queue_was_empty)
{
    // Queued bytes behind others are already announced: the event is set, or a write is in flight whose
    // completion sets it (every reset happens under write_lock, with nothing queued or a write running). So
    // a burst of small frames costs one signal, not one each.
    if (queue_was_empty)
        io_event_.set();
}

bool ipc_write_channel::complete_write()
{
    scoped_lock guard(write_lock_);
    if (overflowed_)
        return false;
    if (write_in_flight_ || !connected_) {
        switch (finish_outstanding()) {
        case outstanding::failed:
            return false;
        case outstanding::still_running:
            return true;
        case outstanding::finished:
            break;
        }
    }
    if (!write_queued())
        return false;
    if (pending_.empty() && handed_.empty())
        io_event_.reset();
    return true;
}

void ipc_write_channel::flush_queue(DWORD timeout_ms)
{
    scoped_lock guard(write_lock_);
    if (!handle_ || !connected_ || overflowed_)
        return;
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    for (;;) {
        if (write_in_flight_) {
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline || !wait_for_outstanding(static_cast<DWORD>(deadline - now)))
                return;
            if (finish_outstanding() != outstanding::finished)
                return;
        }
        if (!write_queued() || !write_in_flight_)
            return;
    }
}

ipc_write_channel::outstanding ipc_write_channel::finish_outstanding()
{
    // io_event is also the "bytes queued" signal, so it may be set while the write (or the wait for a
    // client) is still running. Reset it before asking: a completion that comes after the question sets it
    // again, and the queued bytes are written then. Without this a sender would make us report a running
    // operation as a failure and drop a healthy connection.
    io_event_.reset();
    DWORD transferred = 0;
    const BOOL finished = ::GetOverlappedResult(handle_.get(), &overlapped_, &transferred, FALSE);
    const DWORD error = ::GetLastError();
    if (!finished && error == ERROR_IO_INCOMPLETE)
        return outstanding::still_running;
    io_outstanding_ = false;
    write_in_flight_ = false;
    if (!connected_) {
        // What completed was the wait for a client; one cancelled before any client came is started again.
        if (!finished && error == ERROR_OPERATION_ABORTED)
            return listen() ? outstanding::still_running : outstanding::failed;
        connected_ = 1;
        return outstanding::finished;
    }
    if (!finished || transferred == 0) {
        const DWORD reported = finished ? ERROR_SUCCESS : error;
        MCL_LOG("mcl::ipc_write_channel::complete_write", 310,
                "Failed to write to channel, error in overlap result: [%d:%s]", code_of(reported),
                mswin::error_text(reported));
        return outstanding::failed;
    }
    const std::uint32_t left = handed_.size() - written_;
    written_ += transferred < left ? transferred : left;
    return outstanding::finished;
}

bool ipc_write_channel::write_queued()
{
    for (;;) {
        if (written_ == handed_.size()) {
            // Everything handed over is written; storage of a large burst goes with it.
            handed_.release_storage();
            handed_.clear();
            written_ = 0;
            if (pending_.empty())
                return true;
            handed_ = std::move(pending_);
            pending_.clear();
        }
        prepare_overlapped();
        DWORD transferred = 0;
        const DWORD size = handed_.size() - written_;
        const BOOL done = ::WriteFile(handle_.get(), handed_.data() + written_, size, &transferred, &overlapped_);
        const DWORD error = done ? ERROR_SUCCESS : ::GetLastError();
        if (done && transferred > 0) {
            written_ += transferred < size ? transferred : size;
            continue;
        }
        if (!done && error == ERROR_IO_PENDING) {
            io_outstanding_ = true;
            write_in_flight_ = true;
            return true;
        }
        MCL_LOG("mcl::ipc_write_channel::complete_write", 341, "Failed to write to channel, error: [%d:%s]",
                code_of(error), mswin::error_text(error));
        return false;
    }
}

} // namespace mcl
