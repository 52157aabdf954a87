// The IPC frame: a 16-byte header (kind, message id, sequence, payload length; u32 little-endian each)
// followed by the payload, or by a single 0 byte when the payload is empty.
// Pure logic: no Windows headers, so it is unit-tested and fuzzed on the host as well.
#pragma once

#include "mcl/buffer.h"

#include <cstddef>
#include <cstdint>

namespace mcl::frame {

constexpr std::uint32_t kind_offset = 0;
constexpr std::uint32_t id_offset = 4;
constexpr std::uint32_t sequence_offset = 8;
constexpr std::uint32_t length_offset = 12;
constexpr std::uint32_t header_size = 16;
// Every frame carries at least one byte after its header, even with an empty payload.
constexpr std::uint32_t min_size = header_size + 1;
// The length field comes from the other process: anything above this is refused rather than
// buffered, so a broken or hostile peer cannot make us hold gigabytes waiting for a frame's end.
constexpr std::uint32_t max_payload = 16u * 1024u * 1024u;

enum kind : std::uint32_t {
    request = 0,        // the sender waits for a kind 1 reply
    reply = 1,
    async_request = 2,  // the reply goes to a handler registered for it
    async_reply = 3,
    message = 4,        // one way, no reply
};

struct header {
    std::uint32_t kind = 0;
    std::uint32_t id = 0;
    std::uint32_t sequence = 0;
    std::uint32_t length = 0;
};

std::uint32_t read_u32(const unsigned char* bytes);
void write_u32(unsigned char* bytes, std::uint32_t value);

// Reads the header at the start of `bytes`; false when fewer than header_size bytes are given.
bool read_header(const unsigned char* bytes, std::size_t size, header& out);
void write_header(unsigned char* out, const header& value);

// Makes `out` the frame: header (length = the payload's size), then the payload, or one 0 byte when it
// is empty. False, and `out` empty, for a payload above max_payload: the other side would refuse it.
bool build(std::uint32_t kind, std::uint32_t id, std::uint32_t sequence, const binary_t& payload, binary_t& out);

// The payload of a whole frame (bytes 16 ... 16 + length - 1).
binary_t payload_of(const unsigned char* frame, std::size_t size);

// Bytes a frame with this payload length occupies on the wire (64-bit: no wrap-around).
std::uint64_t wire_size(std::uint32_t payload_length);

enum class cut_status {
    complete,    // a whole frame lies at the front; `size` is its length
    incomplete,  // more bytes are needed
    oversized,   // the header declares a payload above max_payload: the stream cannot be trusted
};

struct cut {
    cut_status status = cut_status::incomplete;
    std::size_t size = 0;
};

// Looks at the front of the pending bytes and says whether a whole frame is there.
cut next_frame(const unsigned char* bytes, std::size_t size);

struct cut_summary {
    bool ok = true;             // false: an oversized frame header stands at `consumed`
    std::size_t consumed = 0;   // bytes taken by the whole frames found
    std::size_t frames = 0;
};

// Cuts every whole frame from the front of the pending bytes, handing each one (start, size) to
// `on_frame` in order, and reports how many bytes they took.
template <typename OnFrame>
cut_summary cut_frames(const unsigned char* bytes, std::size_t size, OnFrame&& on_frame)
{
    cut_summary summary;
    for (;;) {
        const cut next = next_frame(bytes + summary.consumed, size - summary.consumed);
        if (next.status == cut_status::oversized) {
            summary.ok = false;
            return summary;
        }
        if (next.status == cut_status::incomplete)
            return summary;
        on_frame(bytes + summary.consumed, next.size);
        summary.consumed += next.size;
        ++summary.frames;
    }
}

} // namespace mcl::frame
