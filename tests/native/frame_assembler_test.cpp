#include "mcl/frame_assembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;
namespace frame = mcl::frame;

bytes make_frame(std::uint32_t kind, std::uint32_t sequence, const bytes& payload)
{
    mcl::binary_t out;
    frame::build(kind, 0x1000002, sequence, mcl::binary_t(payload.data(), static_cast<std::uint32_t>(payload.size())),
                 out);
    return bytes(out.begin(), out.end());
}

bytes header_only(std::uint32_t length)
{
    bytes out(frame::header_size);
    frame::header head;
    head.kind = frame::request;
    head.length = length;
    frame::write_header(out.data(), head);
    return out;
}

void append(bytes& to, const bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

struct fed {
    std::vector<bytes> frames;
    frame::assembler::state status = frame::assembler::state::collecting;
    std::size_t buffered = 0;
};

fed feed_in_chunks(const bytes& stream, std::size_t chunk)
{
    fed out;
    frame::assembler assembler;
    for (std::size_t offset = 0; offset < stream.size(); offset += chunk) {
        const std::size_t n = std::min(chunk, stream.size() - offset);
        assembler.feed(stream.data() + offset, n,
                       [&](mcl::binary_t&& whole) { out.frames.emplace_back(whole.begin(), whole.end()); });
    }
    out.status = assembler.status();
    out.buffered = assembler.buffered();
    return out;
}

std::vector<bytes> cut_whole(const bytes& stream, std::size_t& consumed)
{
    std::vector<bytes> frames;
    consumed = frame::cut_frames(stream.data(), stream.size(), [&](const unsigned char* start, std::size_t size) {
                   frames.emplace_back(start, start + size);
               }).consumed;
    return frames;
}

TEST(FrameAssembler, YieldsWhatTheCutterCutsWhateverTheChunks)
{
    bytes stream = make_frame(frame::request, 1, {1, 2, 3});
    append(stream, make_frame(frame::message, 2, {}));
    append(stream, make_frame(frame::reply, 3, bytes(300, 0x5A)));
    append(stream, make_frame(frame::message, 4, bytes(70000, 0x11)));
    append(stream, make_frame(frame::message, 5, {9}));
    const bytes last = make_frame(frame::reply, 6, bytes(5000, 0x22));
    append(stream, bytes(last.begin(), last.end() - 1));

    std::size_t consumed = 0;
    const std::vector<bytes> expected = cut_whole(stream, consumed);
    ASSERT_EQ(expected.size(), 5u);
    for (const std::size_t chunk : {std::size_t(1), std::size_t(7), std::size_t(16), std::size_t(17),
                                    std::size_t(4096), stream.size()}) {
        SCOPED_TRACE(chunk);
        const fed out = feed_in_chunks(stream, chunk);
        EXPECT_EQ(out.status, frame::assembler::state::collecting);
        EXPECT_EQ(out.frames, expected);
        EXPECT_EQ(out.buffered, stream.size() - consumed);
    }
}

TEST(FrameAssembler, FramesFilledInPlaceMatchFramesFed)
{
    bytes stream = make_frame(frame::message, 1, bytes(70000, 0x44));
    append(stream, make_frame(frame::reply, 2, {7}));
    std::size_t consumed = 0;
    const std::vector<bytes> expected = cut_whole(stream, consumed);

    frame::assembler assembler;
    std::vector<bytes> got;
    const auto keep = [&](mcl::binary_t&& whole) { got.emplace_back(whole.begin(), whole.end()); };
    std::size_t offset = 0;
    while (offset < stream.size()) {
        std::size_t granted = 0;
        unsigned char* room = assembler.frame_space(5000, granted);
        if (room == nullptr) {
            // No header yet: it goes through feed, one byte at a time.
            assembler.feed(stream.data() + offset, 1, keep);
            ++offset;
            continue;
        }
        ASSERT_LE(granted, assembler.missing());
        std::copy(stream.begin() + static_cast<std::ptrdiff_t>(offset),
                  stream.begin() + static_cast<std::ptrdiff_t>(offset + granted), room);
        assembler.commit(granted, keep);
        offset += granted;
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(assembler.status(), frame::assembler::state::collecting);
}

TEST(FrameAssembler, RefusesAnOversizedHeaderAfterTheGoodFramesBeforeIt)
{
    const bytes good = make_frame(frame::reply, 7, {1, 2});
    struct case_row {
        std::uint32_t length;
        frame::assembler::state status;
    };
    const case_row rows[] = {
        {frame::max_payload + 1, frame::assembler::state::oversized},
        {0x7FFFFFFFu, frame::assembler::state::oversized},
        {0xFFFFFFF0u, frame::assembler::state::oversized},
        {frame::max_payload, frame::assembler::state::collecting},
    };
    for (const case_row& row : rows) {
        bytes stream = good;
        append(stream, header_only(row.length));
        append(stream, bytes(4096, 0xEE));
        // Every cut inside the header: the verdict comes with its last byte, never later.
        for (std::size_t chunk = 1; chunk <= frame::header_size + 1; ++chunk) {
            SCOPED_TRACE(testing::Message() << row.length << " chunk " << chunk);
            const fed out = feed_in_chunks(stream, chunk);
            ASSERT_EQ(out.frames.size(), 1u);
            EXPECT_EQ(out.frames[0], good);
            EXPECT_EQ(out.status, row.status);
            const std::size_t kept = row.status == frame::assembler::state::collecting ? stream.size() - good.size()
                                                                                       : frame::header_size;
            EXPECT_EQ(out.buffered, kept);
        }
    }
}

TEST(FrameAssembler, StorageFollowsTheBytesThatCameNotTheLengthDeclared)
{
    frame::assembler assembler;
    const bytes head = header_only(frame::max_payload);
    std::size_t frames = assembler.feed(head.data(), head.size(), [](mcl::binary_t&&) {});
    EXPECT_EQ(assembler.missing(), frame::max_payload);
    frame::header seen;
    ASSERT_TRUE(assembler.front_header(seen));
    EXPECT_EQ(seen.length, frame::max_payload);

    const bytes chunk(4096, 0x33);
    std::size_t fed_bytes = head.size();
    while (frames == 0) {
        frames += assembler.feed(chunk.data(), std::min(chunk.size(), assembler.missing()), [&](mcl::binary_t&& whole) {
            EXPECT_EQ(whole.size(), frame::header_size + frame::max_payload);
            EXPECT_EQ(whole[frame::header_size + 5], 0x33);
        });
        fed_bytes += chunk.size();
        if (frames == 0)
            ASSERT_LE(assembler.reserved(), 2 * assembler.buffered() + 256) << fed_bytes;
    }
    EXPECT_EQ(assembler.buffered(), 0u);
    EXPECT_EQ(assembler.reserved(), mcl::binary_t::inline_capacity);
    EXPECT_EQ(assembler.missing(), frame::header_size);
}

} // namespace
