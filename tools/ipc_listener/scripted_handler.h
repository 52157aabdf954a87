// The handler behind our test listener: answers the requests of listener_protocol.h and remembers what it
// was given, so that tests in the same process can look.
#pragma once

#include "mcl/ipc_peer.h"
#include "mcl/lock.h"

#include <cstdint>
#include <vector>

namespace ipc_listener {

struct received {
    std::uint32_t id = 0;
    std::vector<unsigned char> payload;
};

class scripted_handler : public mcl::ipc_msg_handler {
public:
    // The peer whose connections broadcasts and counts refer to; set before it starts.
    void attach(mcl::ipc_peer* peer) { peer_ = peer; }

    std::int32_t handle_message(const mcl::ipc_connection_ptr& connection, std::uint32_t id,
                                mcl::binary_t& payload) override;

    std::vector<received> calls();
    std::size_t call_count();

private:
    mcl::ipc_peer* peer_ = nullptr;
    mcl::lock calls_lock_;
    std::vector<received> calls_;
};

} // namespace ipc_listener
