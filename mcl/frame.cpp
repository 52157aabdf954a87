#include "mcl/frame.h"

namespace mcl::frame {

std::uint32_t read_u32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void write_u32(unsigned char* bytes, std::uint32_t value)
{
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
    bytes[2] = static_cast<unsigned char>(value >> 16);
    bytes[3] = static_cast<unsigned char>(value >> 24);
}

bool read_header(const unsigned char* bytes, std::size_t size, header& out)
{
    if (bytes == nullptr || size < header_size)
        return false;
    out.kind = read_u32(bytes + kind_offset);
    out.id = read_u32(bytes + id_offset);
    out.sequence = read_u32(bytes + sequence_offset);
    out.length = read_u32(bytes + length_offset);
    return true;
}

void write_header(unsigned char* out, const header& value)
{
    write_u32(out + kind_offset, value.kind);
    write_u32(out + id_offset, value.id);
    write_u32(out + sequence_offset, value.sequence);
    write_u32(out + length_offset, value.length);
}

std::uint64_t wire_size(std::uint32_t payload_length)
{
    return payload_length == 0 ? min_size : std::uint64_t(header_size) + payload_length;
}

bool build(std::uint32_t kind, std::uint32_t id, std::uint32_t sequence, const binary_t& payload, binary_t& out)
{
    out.clear();
    if (payload.size() > max_payload)
        return false;
    header head;
    head.kind = kind;
    head.id = id;
    head.sequence = sequence;
    head.length = payload.size();
    unsigned char bytes[header_size];
    write_header(bytes, head);
    out.append(bytes, header_size);
    if (payload.empty()) {
        const unsigned char filler = 0;
        out.append(&filler, 1);
    } else {
        out.append(payload);
    }
    if (out.size() == wire_size(head.length))
        return true;
    out.clear();
    return false;
}

binary_t payload_of(const unsigned char* frame, std::size_t size)
{
    header head;
    if (!read_header(frame, size, head) || size < wire_size(head.length))
        return binary_t();
    return binary_t(frame + header_size, head.length);
}

cut next_frame(const unsigned char* bytes, std::size_t size)
{
    cut result;
    header head;
    if (!read_header(bytes, size, head))
        return result;
    // Judged as soon as the header is whole: there is no point waiting for bytes we will refuse.
    if (head.length > max_payload) {
        result.status = cut_status::oversized;
        return result;
    }
    const std::uint64_t needed = wire_size(head.length);
    if (size < needed)
        return result;
    result.status = cut_status::complete;
    result.size = static_cast<std::size_t>(needed);
    return result;
}

} // namespace mcl::frame
