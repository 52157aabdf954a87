#include "mcl/frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;
namespace frame = mcl::frame;

bytes make_frame(std::uint32_t kind, std::uint32_t id, std::uint32_t sequence, const bytes& payload)
{
    bytes out(frame::header_size);
    frame::header head;
    head.kind = kind;
    head.id = id;
    head.sequence = sequence;
    head.length = static_cast<std::uint32_t>(payload.size());
    frame::write_header(out.data(), head);
    if (payload.empty())
        out.push_back(0);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

bytes header_only(std::uint32_t length)
{
    bytes out(frame::header_size);
    frame::header head;
    head.length = length;
    frame::write_header(out.data(), head);
    return out;
}

struct cut_record {
    std::vector<bytes> frames;
    frame::cut_summary summary;
};

cut_record cut_all(const bytes& pending)
{
    cut_record record;
    record.summary = frame::cut_frames(pending.data(), pending.size(), [&](const unsigned char* start, std::size_t size) {
        record.frames.emplace_back(start, start + size);
    });
    return record;
}

TEST(FrameHeader, IsLittleEndianInFieldOrder)
{
    frame::header head;
    head.kind = 4;
    head.id = 0x01000002;
    head.sequence = 0x0A0B0C0D;
    head.length = 3;
    unsigned char out[16] = {};
    frame::write_header(out, head);
    const bytes expected = {4, 0, 0, 0, 2, 0, 0, 1, 0x0D, 0x0C, 0x0B, 0x0A, 3, 0, 0, 0};
    EXPECT_EQ(bytes(out, out + 16), expected);

    frame::header back;
    ASSERT_TRUE(frame::read_header(out, 16, back));
    EXPECT_EQ(back.kind, 4u);
    EXPECT_EQ(back.id, 0x01000002u);
    EXPECT_EQ(back.sequence, 0x0A0B0C0Du);
    EXPECT_EQ(back.length, 3u);
    EXPECT_FALSE(frame::read_header(out, 15, back));
}

TEST(FrameCut, WholeFramesComeOutInOrderAndTheTailStays)
{
    const bytes first = make_frame(0, 7, 1, {1, 2, 3});
    const bytes second = make_frame(4, 8, 2, {});
    const bytes third = make_frame(1, 9, 3, bytes(300, 0x5A));
    bytes pending = first;
    pending.insert(pending.end(), second.begin(), second.end());
    pending.insert(pending.end(), third.begin(), third.end() - 1);

    const cut_record record = cut_all(pending);
    ASSERT_TRUE(record.summary.ok);
    ASSERT_EQ(record.frames.size(), 2u);
    EXPECT_EQ(record.frames[0], first);
    EXPECT_EQ(record.frames[1], second);
    EXPECT_EQ(record.summary.consumed, first.size() + second.size());

    const bytes tail(pending.begin() + static_cast<std::ptrdiff_t>(record.summary.consumed), pending.end());
    EXPECT_TRUE(cut_all(tail).frames.empty());
    bytes completed = tail;
    completed.push_back(third.back());
    const cut_record rest = cut_all(completed);
    ASSERT_EQ(rest.frames.size(), 1u);
    EXPECT_EQ(rest.frames[0], third);
    EXPECT_EQ(rest.summary.consumed, completed.size());
}

TEST(FrameCut, FrameSplitAcrossReadsIsCutOnceWhenWhole)
{
    const bytes whole = make_frame(0, 1, 1, {9, 8, 7, 6});
    for (std::size_t split = 0; split < whole.size(); ++split) {
        const cut_record partial = cut_all(bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(split)));
        EXPECT_TRUE(partial.frames.empty()) << split;
        EXPECT_EQ(partial.summary.consumed, 0u) << split;
        EXPECT_TRUE(partial.summary.ok) << split;
    }
    const cut_record full = cut_all(whole);
    ASSERT_EQ(full.frames.size(), 1u);
    EXPECT_EQ(full.frames[0], whole);
}

TEST(FrameCut, EmptyPayloadWaitsForItsSeventeenthByte)
{
    bytes pending = header_only(0);
    EXPECT_EQ(frame::next_frame(pending.data(), pending.size()).status, frame::cut_status::incomplete);
    pending.push_back(0);
    const frame::cut next = frame::next_frame(pending.data(), pending.size());
    EXPECT_EQ(next.status, frame::cut_status::complete);
    EXPECT_EQ(next.size, frame::min_size);
    EXPECT_EQ(frame::next_frame(nullptr, 0).status, frame::cut_status::incomplete);
}

TEST(FrameCut, OneBytePayloadIsAlsoSeventeenBytes)
{
    const bytes one = make_frame(4, 2, 5, {0x42});
    ASSERT_EQ(one.size(), 17u);
    const cut_record record = cut_all(one);
    ASSERT_EQ(record.frames.size(), 1u);
    EXPECT_EQ(record.summary.consumed, 17u);
}

TEST(FrameCut, LengthsThatWouldWrapOrExceedTheLimitAreRefused)
{
    // 16 + L in 32 bits gives 0 for 0xFFFFFFF0 and 15 for 0xFFFFFFFF: a cutter that wraps would
    // loop forever or step backwards. Both, and anything above the limit, must stop the stream.
    for (const std::uint32_t length : {0xFFFFFFFFu, 0xFFFFFFF0u, 0xFFFFFFF1u, frame::max_payload + 1}) {
        bytes pending = header_only(length);
        pending.resize(64, 0xEE);
        const frame::cut next = frame::next_frame(pending.data(), pending.size());
        EXPECT_EQ(next.status, frame::cut_status::oversized) << length;
        EXPECT_EQ(next.size, 0u);
    }
    bytes at_limit = header_only(frame::max_payload);
    at_limit.resize(4096, 1);
    EXPECT_EQ(frame::next_frame(at_limit.data(), at_limit.size()).status, frame::cut_status::incomplete);
    EXPECT_EQ(frame::wire_size(0xFFFFFFFFu), 0x10000000Full);
}

TEST(FrameCut, GoodFramesBeforeAHostileHeaderAreStillDelivered)
{
    const bytes good = make_frame(1, 3, 4, {1, 2});
    bytes pending = good;
    const bytes hostile = header_only(0x7FFFFFFF);
    pending.insert(pending.end(), hostile.begin(), hostile.end());
    pending.push_back(0);

    const cut_record record = cut_all(pending);
    EXPECT_FALSE(record.summary.ok);
    ASSERT_EQ(record.frames.size(), 1u);
    EXPECT_EQ(record.frames[0], good);
    EXPECT_EQ(record.summary.consumed, good.size());
}

TEST(FrameBuild, EmptyPayloadGetsOneZeroByteAndTheRoundTripHolds)
{
    mcl::binary_t out;
    ASSERT_TRUE(frame::build(4, 0x1000000, 9, mcl::binary_t(), out));
    EXPECT_EQ(bytes(out.begin(), out.end()), make_frame(4, 0x1000000, 9, {}));
    EXPECT_TRUE(frame::payload_of(out.data(), out.size()).empty());

    const bytes payload = {5, 0, 0, 0, 'o', 'k', 0};
    ASSERT_TRUE(frame::build(1, 0x1000009, 2, mcl::binary_t(payload.data(), 7), out));
    EXPECT_EQ(bytes(out.begin(), out.end()), make_frame(1, 0x1000009, 2, payload));
    const mcl::binary_t back = frame::payload_of(out.data(), out.size());
    EXPECT_EQ(bytes(back.begin(), back.end()), payload);
    // A frame cut short has no payload to give.
    EXPECT_TRUE(frame::payload_of(out.data(), out.size() - 1).empty());
}

TEST(FrameBuild, PayloadAboveTheLimitIsNotFramed)
{
    const bytes big(frame::max_payload + 1, 0x33);
    mcl::binary_t out;
    out.append(big.data(), 5);
    EXPECT_FALSE(frame::build(0, 1, 1, mcl::binary_t(big.data(), static_cast<std::uint32_t>(big.size())), out));
    EXPECT_TRUE(out.empty());
}

} // namespace
