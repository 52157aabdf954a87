// Message ids our test listener understands (tools/ipc_listener and the IPC tests share them).
#pragma once

#include <cstdint>

namespace ipc_listener {

// Requests (kind 0): the reply is described with each.
constexpr std::uint32_t echo_request = 0x7100;        // the payload comes back unchanged
constexpr std::uint32_t no_reply_request = 0x7101;    // the handler returns -1: no reply at all
constexpr std::uint32_t die_request = 0x7102;         // the process ends at once, without replying
constexpr std::uint32_t broadcast_request = 0x7103;   // posts broadcast_message with the payload to every
                                                      // connection, then replies with the payload
constexpr std::uint32_t count_request = 0x7104;       // reply: u32 number of connections the listener holds

// One-way messages (kind 4).
constexpr std::uint32_t post_back_message = 0x7110;   // the payload is posted back as echoed_message
constexpr std::uint32_t echoed_message = 0x7111;
constexpr std::uint32_t broadcast_message = 0x7112;

} // namespace ipc_listener
