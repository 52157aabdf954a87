#include "mcl/ipc_channel.h"

#include "mcl/log.h"
#include "mcl/mswin/error_text.h"

namespace mcl {

namespace {

int code_of(DWORD error) { return static_cast<int>(error); }

void drop_front(binary_t& bytes, std::uint32_t count)
{
    if (count >= bytes.size()) {
        bytes.clear();
        return;
    }
    const binary_t tail(bytes.data() + count, bytes.size() - count);
    bytes = tail;
}

} // namespace

void ipc_write_channel::queue(const binary_t& frame)
{
    scoped_lock guard(write_lock_);
    pending_.append(frame);
    io_event_.set();
}

bool ipc_write_channel::complete_write()
{
    scoped_lock guard(write_lock_);
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
        // What completed was the wait for a client.
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
    drop_front(handed_, transferred);
    return outstanding::finished;
}

bool ipc_write_channel::write_queued()
{
    for (;;) {
        if (handed_.empty()) {
            if (pending_.empty())
                return true;
            handed_ = std::move(pending_);
            pending_.clear();
        }
        prepare_overlapped();
        DWORD transferred = 0;
        const BOOL done = ::WriteFile(handle_.get(), handed_.data(), handed_.size(), &transferred, &overlapped_);
        const DWORD error = done ? ERROR_SUCCESS : ::GetLastError();
        if (done && transferred > 0) {
            drop_front(handed_, transferred);
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
