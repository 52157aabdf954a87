#include "log_format.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace protection_double {

namespace {

std::string id_text(std::uint32_t id)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(id));
    return text;
}

// Reads "KEY=VALUE" at `at` (VALUE up to the next blank or the end); moves `at` past it.
bool take_field(const std::string& line, std::size_t& at, const char* key, std::string& value)
{
    const std::size_t key_size = std::strlen(key);
    if (line.compare(at, key_size, key) != 0)
        return false;
    at += key_size;
    if (at >= line.size() || line[at] != '=')
        return false;
    ++at;
    const std::size_t end = line.find(' ', at);
    value = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? line.size() : end + 1;
    return true;
}

bool to_u32(const std::string& text, int base, std::uint32_t& value)
{
    if (text.empty() || text.size() > 10)
        return false;
    for (const char c : text) {
        const bool digit = c >= '0' && c <= '9';
        const bool hex_letter = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit && !(base == 16 && hex_letter))
            return false;
    }
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, base);
    if (end == nullptr || *end != '\0' || parsed > 0xFFFFFFFFull)
        return false;
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

} // namespace

std::string connect_line(unsigned connection)
{
    return "connect " + std::to_string(connection);
}

std::string disconnect_line(unsigned connection)
{
    return "disconnect " + std::to_string(connection);
}

std::string frame_line(unsigned connection, std::uint32_t kind, std::uint32_t id, std::uint32_t sequence,
                       const unsigned char* payload, std::size_t size)
{
    return "frame " + std::to_string(connection) + " kind=" + std::to_string(kind) + " id=" + id_text(id) +
           " seq=" + std::to_string(sequence) + " payload=" + to_hex(payload, size);
}

std::string reply_line(unsigned connection, std::uint32_t id, const unsigned char* payload, std::size_t size)
{
    return "reply " + std::to_string(connection) + " id=" + id_text(id) + " payload=" + to_hex(payload, size);
}

std::string noreply_line(unsigned connection, std::uint32_t id)
{
    return "noreply " + std::to_string(connection) + " id=" + id_text(id);
}

std::string script_error_line(unsigned line_number, const std::string& text)
{
    return "script " + std::to_string(line_number) + ": " + text;
}

bool parse_frame_line(const std::string& line, logged_frame& out)
{
    const std::string prefix = "frame ";
    if (line.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::size_t at = prefix.size();
    const std::size_t blank = line.find(' ', at);
    if (blank == std::string::npos)
        return false;
    logged_frame parsed;
    std::uint32_t connection = 0;
    std::string kind, id, sequence;
    if (!to_u32(line.substr(at, blank - at), 10, connection))
        return false;
    at = blank + 1;
    if (!take_field(line, at, "kind", kind) || !take_field(line, at, "id", id) ||
        !take_field(line, at, "seq", sequence) || !take_field(line, at, "payload", parsed.payload_hex))
        return false;
    if (at != line.size() || id.size() != 10 || id.compare(0, 2, "0x") != 0)
        return false;
    if (!to_u32(kind, 10, parsed.kind) || !to_u32(id.substr(2), 16, parsed.id) ||
        !to_u32(sequence, 10, parsed.sequence) || !from_hex(parsed.payload_hex, parsed.payload))
        return false;
    parsed.connection = connection;
    out = std::move(parsed);
    return true;
}

std::vector<logged_frame> frames_in(const std::vector<std::string>& lines)
{
    std::vector<logged_frame> frames;
    for (const std::string& line : lines) {
        logged_frame frame;
        if (parse_frame_line(line, frame))
            frames.push_back(std::move(frame));
    }
    return frames;
}

std::vector<logged_frame> frames_with_id(const std::vector<std::string>& lines, std::uint32_t id)
{
    std::vector<logged_frame> frames;
    for (logged_frame& frame : frames_in(lines)) {
        if (frame.id == id)
            frames.push_back(std::move(frame));
    }
    return frames;
}

} // namespace protection_double
