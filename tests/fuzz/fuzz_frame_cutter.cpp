// Feeds arbitrary bytes to the frame cutter twice: all at once, and in chunks the way a pipe delivers
// them (append, cut, keep the tail). Both must yield the same frames, each within its bounds.
#include "mcl/frame.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;
namespace frame = mcl::frame;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

struct outcome {
    std::vector<bytes> frames;
    bool refused = false;
};

void check_frame(const unsigned char* start, std::size_t size)
{
    frame::header head;
    require(frame::read_header(start, size, head));
    require(size >= frame::min_size);
    require(head.length <= frame::max_payload);
    require(size == frame::wire_size(head.length));
}

outcome cut_at_once(const unsigned char* data, std::size_t size)
{
    outcome out;
    const frame::cut_summary summary = frame::cut_frames(data, size, [&](const unsigned char* start, std::size_t n) {
        require(start >= data && start + n <= data + size);
        check_frame(start, n);
        out.frames.emplace_back(start, start + n);
    });
    require(summary.consumed <= size);
    require(summary.frames == out.frames.size());
    out.refused = !summary.ok;
    if (out.refused) {
        frame::header head;
        require(frame::read_header(data + summary.consumed, size - summary.consumed, head));
        require(head.length > frame::max_payload);
    }
    return out;
}

outcome cut_in_chunks(const unsigned char* data, std::size_t size, std::size_t chunk)
{
    outcome out;
    bytes pending;
    for (std::size_t offset = 0; offset < size && !out.refused; offset += chunk) {
        const std::size_t n = size - offset < chunk ? size - offset : chunk;
        pending.insert(pending.end(), data + offset, data + offset + n);
        const frame::cut_summary summary =
            frame::cut_frames(pending.data(), pending.size(), [&](const unsigned char* start, std::size_t len) {
                out.frames.emplace_back(start, start + len);
            });
        out.refused = !summary.ok;
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(summary.consumed));
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the chunk size of the second pass (1..256 bytes).
    const std::size_t chunk = static_cast<std::size_t>(data[0]) + 1;
    const outcome whole = cut_at_once(data + 1, size - 1);
    const outcome pieces = cut_in_chunks(data + 1, size - 1, chunk);
    require(whole.refused == pieces.refused);
    require(whole.frames == pieces.frames);
    return 0;
}
