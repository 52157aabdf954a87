#include "mcl/buffer.h"

#include "byte_helpers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

std::vector<unsigned char> counting(std::uint32_t count, unsigned char first = 0)
{
    std::vector<unsigned char> v(count);
    for (std::uint32_t i = 0; i < count; ++i)
        v[i] = static_cast<unsigned char>(first + i);
    return v;
}

TEST(Buffer, StaysInlineUpTo256AndMovesToA512BlockAt257)
{
    mcl::binary_t b;
    EXPECT_EQ(b.capacity(), 256u);
    const auto first = counting(256);
    b.append(first.data(), 256);
    EXPECT_TRUE(b.uses_inline_storage());
    EXPECT_EQ(b.capacity(), 256u);

    const unsigned char extra = 0xAB;
    b.append(&extra, 1);
    EXPECT_FALSE(b.uses_inline_storage());
    EXPECT_EQ(b.capacity(), 512u);
    ASSERT_EQ(b.size(), 257u);
    EXPECT_EQ(std::vector<unsigned char>(b.begin(), b.begin() + 256), first);
    EXPECT_EQ(b[256], 0xAB);
}

TEST(Buffer, GrowthAddsAFullStepAboveAMultiple)
{
    mcl::binary_t b;
    const auto data = counting(512);
    b.append(data.data(), 512);
    EXPECT_EQ(b.capacity(), 768u);
    EXPECT_EQ(bytes_of(b), data);

    b.append(data.data(), 1);  // 513 fits in 768
    EXPECT_EQ(b.capacity(), 768u);
    const auto more = counting(300);
    b.append(more.data(), 300);  // 813 -> 1024
    EXPECT_EQ(b.capacity(), 1024u);
    EXPECT_EQ(b.size(), 813u);
    EXPECT_EQ(b[513], 0);
    EXPECT_EQ(b[812], static_cast<unsigned char>(299));
}

TEST(Buffer, WriteReplacesTheTailAndIgnoresPositionsBeyondSize)
{
    mcl::binary_t b;
    const auto ten = counting(10, 1);
    b.append(ten.data(), 10);

    const unsigned char three[3] = {0xA1, 0xA2, 0xA3};
    b.write(11, three, 3);
    EXPECT_EQ(bytes_of(b), ten);

    b.write(2, three, 3);
    EXPECT_EQ(bytes_of(b), (std::vector<unsigned char>{1, 2, 0xA1, 0xA2, 0xA3}));

    b.write(5, three, 1);  // at size: an append
    EXPECT_EQ(b.size(), 6u);
    EXPECT_EQ(b[5], 0xA1);
}

TEST(Buffer, WriteWithoutElementsTruncatesAndCountZeroChangesNothing)
{
    mcl::binary_t b;
    const auto ten = counting(10);
    b.append(ten.data(), 10);
    b.write(0, nullptr, 0);
    b.write(4, ten.data(), 0);
    EXPECT_EQ(b.size(), 10u);

    b.write(4, nullptr, 2);
    EXPECT_EQ(b.size(), 4u);
    EXPECT_EQ(bytes_of(b), counting(4));
}

TEST(Buffer, WriteWhoseEndPassesThirtyTwoBitsChangesNothing)
{
    mcl::binary_t b;
    const auto four = counting(4, 7);
    b.append(four.data(), 4);
    // The end 4 + 0xFFFFFFFF wraps to 3 in 32 bits; the count is never used to read anything here.
    b.write(4, four.data(), 0xFFFFFFFFu);
    b.write(2, four.data(), 0xFFFFFFFEu);
    EXPECT_EQ(bytes_of(b), four);
    EXPECT_EQ(b.capacity(), 256u);
}

TEST(Buffer, AppendingItsOwnContentsSurvivesTheMoveToTheHeap)
{
    mcl::binary_t b;
    const auto data = counting(200);
    b.append(data.data(), 200);
    b.append(b);  // the source is the inline storage that is being left behind
    b.append(b.data(), b.size());  // and now the heap block that is being replaced
    ASSERT_EQ(b.size(), 800u);
    for (std::uint32_t i = 0; i < 800; ++i)
        ASSERT_EQ(b[i], data[i % 200]) << i;
}

TEST(Buffer, FindAndShrinkEdges)
{
    mcl::binary_t b;
    const unsigned char data[6] = {5, 0, 7, 5, 0, 9};
    b.append(data, 6);
    EXPECT_EQ(b.find(5, 0), 0u);
    EXPECT_EQ(b.find(5, 1), 3u);
    EXPECT_EQ(b.find(9, 5), 5u);
    EXPECT_EQ(b.find(9, 6), mcl::binary_t::npos);
    EXPECT_EQ(b.find(0, 0xFFFFFFFFu), mcl::binary_t::npos);
    EXPECT_EQ(b.find(42, 0), mcl::binary_t::npos);

    b.shrink(2);
    EXPECT_EQ(bytes_of(b), (std::vector<unsigned char>{5, 0, 7, 5}));
    b.shrink(0);
    EXPECT_EQ(b.size(), 4u);
    b.shrink(4);
    EXPECT_TRUE(b.empty());
    b.append(data, 3);
    b.shrink(4);
    EXPECT_TRUE(b.empty());
}

TEST(Buffer, IndexAtOrPastSizeGivesTheZeroedSpare)
{
    mcl::binary_t b;
    const auto data = counting(300, 1);
    b.append(data.data(), 300);
    b.shrink(100);  // bytes 200.. still lie in the block, but are not contents
    EXPECT_EQ(b[199], static_cast<unsigned char>(200));
    EXPECT_EQ(b[200], 0);
    EXPECT_EQ(b[0xFFFFFFFFu], 0);

    b[500] = 0x55;  // a write through the spare must not stick
    EXPECT_EQ(b[500], 0);
    const mcl::binary_t& view = b;
    EXPECT_EQ(view[300], 0);

    b[400] = 0x66;  // nor be seen through a read-only view
    EXPECT_EQ(view[400], 0);
    EXPECT_EQ(view[199], static_cast<unsigned char>(200));
}

TEST(Buffer, CopiesAreIndependentAndMovesTakeTheBlock)
{
    mcl::binary_t a;
    const auto data = counting(600);
    a.append(data.data(), 600);

    mcl::binary_t copy(a);
    copy[0] = 0xEE;
    EXPECT_EQ(a[0], 0);
    EXPECT_NE(copy.data(), a.data());

    const unsigned char* block = a.data();
    mcl::binary_t moved(std::move(a));
    EXPECT_EQ(moved.data(), block);
    EXPECT_EQ(bytes_of(moved), data);
    EXPECT_TRUE(a.empty());
    EXPECT_TRUE(a.uses_inline_storage());

    mcl::binary_t small;
    small.append(data.data(), 3);
    moved = small;
    EXPECT_EQ(bytes_of(moved), counting(3));
    small = std::move(moved);
    EXPECT_EQ(bytes_of(small), counting(3));
}

TEST(Buffer, AssignAndReleaseStorage)
{
    mcl::binary_t b;
    const auto data = counting(400);
    b.append(data.data(), 400);
    b.assign(b.data() + 100, 50);  // from its own contents
    EXPECT_EQ(bytes_of(b), std::vector<unsigned char>(data.begin() + 100, data.begin() + 150));

    b.release_storage();
    EXPECT_TRUE(b.uses_inline_storage());
    EXPECT_EQ(b.capacity(), 256u);
    EXPECT_TRUE(b.empty());  // the contents lived in the freed block

    b.append(data.data(), 10);
    b.release_storage();  // nothing on the heap: inline contents stay
    EXPECT_EQ(bytes_of(b), counting(10));
}

TEST(Buffer, AttachAndDetachHandBlocksOver)
{
    mcl::binary_t b;
    auto* block = new unsigned char[300];
    for (int i = 0; i < 300; ++i)
        block[i] = static_cast<unsigned char>(i);
    ASSERT_TRUE(b.attach(block, 300));
    EXPECT_EQ(b.size(), 300u);
    EXPECT_EQ(b.data(), block);
    EXPECT_FALSE(b.attach(nullptr, 4));

    unsigned char* out = b.detach();
    EXPECT_EQ(out, block);
    EXPECT_TRUE(b.empty());
    delete[] out;

    auto* small = new unsigned char[3]{9, 8, 7};
    ASSERT_TRUE(b.attach(small, 3));  // small blocks are copied inline and freed
    EXPECT_TRUE(b.uses_inline_storage());
    out = b.detach();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out[2], 7);
    delete[] out;
    EXPECT_EQ(b.detach(), nullptr);
}

TEST(Buffer, PointerInstanceHoldsWaitLists)
{
    mcl::pointer_buffer handles;
    int targets[300] = {};
    for (auto& t : targets) {
        void* p = &t;
        handles.append(&p, 1);
    }
    EXPECT_EQ(handles.capacity(), 512u);
    EXPECT_EQ(handles[299], &targets[299]);
    EXPECT_EQ(handles[300], nullptr);
    EXPECT_EQ(handles.find(&targets[7], 0), 7u);
}

} // namespace
