#include "scripted_handler.h"

#include "listener_protocol.h"
#include "mcl/payload.h"

namespace ipc_listener {

std::int32_t scripted_handler::handle_message(const mcl::ipc_connection_ptr& connection, std::uint32_t id,
                                              mcl::binary_t& payload)
{
    {
        mcl::scoped_lock guard(calls_lock_);
        calls_.push_back(received{id, std::vector<unsigned char>(payload.begin(), payload.end())});
    }
    switch (id) {
    case no_reply_request:
        return -1;
    case die_request:
        ::TerminateProcess(::GetCurrentProcess(), 7);
        return -1;
    case broadcast_request:
        if (peer_ != nullptr)
            peer_->post(broadcast_message, payload);
        return 0;
    case count_request:
        payload.clear();
        mcl::put_u32(payload, peer_ != nullptr ? static_cast<std::uint32_t>(peer_->connection_count()) : 0);
        return 0;
    case post_back_message:
        if (peer_ != nullptr)
            peer_->post(echoed_message, payload, connection);
        return 0;
    default:
        return 0;
    }
}

std::vector<received> scripted_handler::calls()
{
    mcl::scoped_lock guard(calls_lock_);
    return calls_;
}

std::size_t scripted_handler::call_count()
{
    mcl::scoped_lock guard(calls_lock_);
    return calls_.size();
}

} // namespace ipc_listener
