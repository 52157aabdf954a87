// Feeds arbitrary bytes to the frame assembler in chunks of arbitrary sizes and checks it against the frame
// cutter run over the whole stream: the same frames in the same order, the same verdict on a hostile header,
// the unfinished tail held, and storage never far beyond the bytes held. Odd cut bytes fill the front frame in
// place instead.
#include "mcl/frame_assembler.h"

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first bytes are the cut points: each gives the length of one chunk (0 repeats the previous one).
    if (size < 4)
        return 0;
    const std::uint8_t cuts[4] = {data[0], data[1], data[2], data[3]};
    const unsigned char* stream = data + 4;
    const std::size_t length = size - 4;

    std::vector<bytes> expected;
    const frame::cut_summary whole =
        frame::cut_frames(stream, length, [&](const unsigned char* start, std::size_t n) {
            expected.emplace_back(start, start + n);
        });

    frame::assembler assembler;
    std::vector<bytes> got;
    std::size_t offset = 0;
    std::size_t chunk = 1;
    for (std::size_t turn = 0; offset < length; ++turn) {
        const std::uint8_t cut = cuts[turn % 4];
        if (cut != 0)
            chunk = cut % 64 == 0 ? std::size_t(cut) * 97 : cut % 64;
        std::size_t n = length - offset < chunk ? length - offset : chunk;
        const auto keep = [&](mcl::binary_t&& frame_bytes) { got.emplace_back(frame_bytes.begin(), frame_bytes.end()); };
        std::size_t granted = 0;
        unsigned char* room = cut % 2 == 1 ? assembler.frame_space(n, granted) : nullptr;
        if (room != nullptr) {
            // Filled in place, as a reader does for a large frame.
            require(granted <= n && granted <= assembler.missing());
            std::memcpy(room, stream + offset, granted);
            assembler.commit(granted, keep);
            n = granted;
        } else {
            assembler.feed(stream + offset, n, keep);
        }
        offset += n;
        require(assembler.reserved() <= 2 * assembler.buffered() + 512);
        if (assembler.status() != frame::assembler::state::collecting)
            break;
    }
    require(got == expected);
    require((assembler.status() == frame::assembler::state::oversized) == !whole.ok);
    require(assembler.status() != frame::assembler::state::out_of_memory);
    if (whole.ok)
        require(assembler.buffered() == length - whole.consumed);
    return 0;
}
