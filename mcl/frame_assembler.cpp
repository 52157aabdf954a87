#include "mcl/frame_assembler.h"

#include <algorithm>

namespace mcl::frame {

std::size_t assembler::missing() const
{
    if (expected_ == 0)
        return header_size - current_.size();
    return expected_ - current_.size();
}

bool assembler::front_header(header& out) const
{
    return read_header(current_.data(), current_.size(), out);
}

unsigned char* assembler::frame_space(std::size_t wanted, std::size_t& granted)
{
    granted = 0;
    if (state_ != state::collecting || expected_ == 0)
        return nullptr;
    const std::size_t count = std::min(wanted, missing());
    if (count == 0)
        return nullptr;
    if (!make_room(count)) {
        state_ = state::out_of_memory;
        return nullptr;
    }
    granted = count;
    return current_.data() + current_.size();
}

void assembler::reset_front()
{
    // A large frame's storage left with it; the next one starts in the inline storage again.
    current_.release_storage();
    current_.clear();
    expected_ = 0;
}

std::size_t assembler::take(const unsigned char* bytes, std::size_t size)
{
    if (expected_ == 0) {
        // The header always fits the inline storage.
        const std::size_t count = std::min<std::size_t>(size, header_size - current_.size());
        current_.append(bytes, static_cast<std::uint32_t>(count));
        header head;
        if (!read_header(current_.data(), current_.size(), head))
            return count;
        // Judged now: there is no point collecting bytes we will refuse.
        if (head.length > max_payload) {
            state_ = state::oversized;
            return count;
        }
        expected_ = static_cast<std::size_t>(wire_size(head.length));
        return count;
    }
    const std::size_t count = std::min<std::size_t>(size, expected_ - current_.size());
    if (!make_room(count)) {
        state_ = state::out_of_memory;
        return count;
    }
    current_.append(bytes, static_cast<std::uint32_t>(count));
    return count;
}

bool assembler::make_room(std::size_t extra)
{
    const std::size_t needed = current_.size() + extra;
    if (needed <= current_.capacity())
        return true;
    // Doubling keeps the copies of a large frame linear, and stopping at the frame's size keeps a header that
    // promises much and a sender that delivers little from costing more than what came.
    const std::size_t doubled = static_cast<std::size_t>(current_.capacity()) * 2;
    const std::size_t target = std::min(expected_, std::max(needed, doubled));
    const std::uint32_t held = current_.size();
    // Writing nothing behind the contents only moves them to storage of the target size.
    current_.write(held, nullptr, static_cast<std::uint32_t>(target - held));
    return current_.size() == held && current_.capacity() >= needed;
}

} // namespace mcl::frame
