// The lines of the double's log, written by the double and read back by tests (formats in README.md).
// Pure logic.
#pragma once

#include "hex.h"

#include <cstdint>
#include <string>
#include <vector>

namespace protection_double {

std::string connect_line(unsigned connection);
std::string disconnect_line(unsigned connection);
std::string frame_line(unsigned connection, std::uint32_t kind, std::uint32_t id, std::uint32_t sequence,
                       const unsigned char* payload, std::size_t size);
std::string reply_line(unsigned connection, std::uint32_t id, const unsigned char* payload, std::size_t size);
std::string noreply_line(unsigned connection, std::uint32_t id);
std::string script_error_line(unsigned line_number, const std::string& text);

// One `frame` line of the log.
struct logged_frame {
    unsigned connection = 0;
    std::uint32_t kind = 0;
    std::uint32_t id = 0;
    std::uint32_t sequence = 0;
    bytes payload;
    std::string payload_hex;
};

// False for any other line and for a frame line that is not well formed.
bool parse_frame_line(const std::string& line, logged_frame& out);

// The frame lines among `lines`, in order; with `id` set, only those of that message id.
std::vector<logged_frame> frames_in(const std::vector<std::string>& lines);
std::vector<logged_frame> frames_with_id(const std::vector<std::string>& lines, std::uint32_t id);

} // namespace protection_double
