// Turns the byte stream of a pipe, in whatever chunks it arrives, into whole frames. The header is judged as
// soon as it is complete, and storage grows with the bytes that really came, so a peer that declares a huge
// frame and sends little costs little. Pure logic: unit-tested and fuzzed on the host as well.
#pragma once

#include "mcl/buffer.h"
#include "mcl/frame.h"

#include <cstddef>
#include <cstdint>
#include <utility>

namespace mcl::frame {

class assembler {
public:
    enum class state {
        collecting,     // all is well; a frame may be partly here
        oversized,      // a header declared a payload above max_payload
        out_of_memory,  // storage for the front frame could not be had
    };

    // Takes the next chunk and hands every frame it completes, in order, to on_frame(binary_t&&). Bytes behind
    // a refused header are ignored: once refused, the stream cannot be trusted and nothing more is taken.
    // Returns the number of whole frames handed out by this call.
    template <typename OnFrame>
    std::size_t feed(const unsigned char* bytes, std::size_t size, OnFrame&& on_frame)
    {
        std::size_t frames = 0;
        while (size > 0 && state_ == state::collecting) {
            const std::size_t taken = take(bytes, size);
            bytes += taken;
            size -= taken;
            if (state_ == state::collecting && frame_complete()) {
                binary_t whole(std::move(current_));
                reset_front();
                on_frame(std::move(whole));
                ++frames;
            }
        }
        return frames;
    }

    // Room for up to `wanted` further bytes of the front frame, to be filled in place (a large frame then
    // needs neither a bounce copy nor small pieces). Null while the header is incomplete, or when storage
    // cannot be had (status() then says so). `granted` is at most what the frame still misses. The room
    // stays put until commit.
    unsigned char* frame_space(std::size_t wanted, std::size_t& granted);

    // Counts `count` bytes written into the room frame_space gave as received; hands the frame on when it is
    // whole. Returns the number of frames handed out (0 or 1).
    template <typename OnFrame>
    std::size_t commit(std::size_t count, OnFrame&& on_frame)
    {
        const std::uint32_t held = current_.size();
        current_.write(held, current_.data() + held, static_cast<std::uint32_t>(count));
        if (!frame_complete())
            return 0;
        binary_t whole(std::move(current_));
        reset_front();
        on_frame(std::move(whole));
        return 1;
    }

    state status() const { return state_; }
    // Bytes held of the front frame, which is not complete yet.
    std::size_t buffered() const { return current_.size(); }
    // Bytes still missing from the front frame (its header first): a reader need not ask for more than this
    // to finish it.
    std::size_t missing() const;
    // The header of the front frame (also of one refused); false while it is not complete.
    bool front_header(header& out) const;
    // Storage held for the front frame.
    std::size_t reserved() const { return current_.capacity(); }

private:
    std::size_t take(const unsigned char* bytes, std::size_t size);
    bool make_room(std::size_t extra);
    bool frame_complete() const { return expected_ != 0 && current_.size() == expected_; }
    void reset_front();

    binary_t current_;
    // Wire size of the front frame once its header is complete, 0 before.
    std::size_t expected_ = 0;
    state state_ = state::collecting;
};

} // namespace mcl::frame
