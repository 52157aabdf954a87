#include "mcl/payload.h"

#include "byte_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(PayloadWrite, IntegersAreLittleEndianWithoutPadding)
{
    mcl::binary_t p;
    EXPECT_TRUE(mcl::put_u8(p, 0x7F));
    EXPECT_TRUE(mcl::put_u32(p, 0x01000009));
    EXPECT_TRUE(mcl::put_i32(p, -2));
    EXPECT_TRUE(mcl::put_u64(p, 0x8000000000000002ull));
    EXPECT_EQ(bytes_of(p), (bytes{0x7F, 0x09, 0x00, 0x00, 0x01, 0xFE, 0xFF, 0xFF, 0xFF,
                                  0x02, 0, 0, 0, 0, 0, 0, 0x80}));
}

TEST(PayloadWrite, EmptyValuesHaveTheirMinimalForms)
{
    mcl::binary_t narrow, wide, list;
    mcl::put_string(narrow, "");
    mcl::put_wstring(wide, std::u16string());
    mcl::put_string_list(list, {});
    EXPECT_EQ(bytes_of(narrow), bytes{0});
    EXPECT_EQ(bytes_of(wide), (bytes{0, 0}));
    EXPECT_EQ(bytes_of(list), (bytes{0, 0, 0, 0}));
}

TEST(PayloadWrite, StringsCarryTheirTerminator)
{
    mcl::binary_t p;
    mcl::put_string(p, "ab");
    mcl::put_wstring(p, std::u16string(u"\u00e9\u20ac"));
    mcl::put_string_list(p, {"x", ""});
    EXPECT_EQ(bytes_of(p), (bytes{'a', 'b', 0, 0xE9, 0x00, 0xAC, 0x20, 0, 0, 2, 0, 0, 0, 'x', 0, 0}));
}

TEST(PayloadWrite, TextStopsAtAnEmbeddedNul)
{
    // Anything behind a 0 byte could never be read back; the reader would take it for the next field.
    mcl::binary_t p;
    mcl::put_string(p, std::string("ab\0cd", 5));
    mcl::put_wstring(p, std::u16string(u"z\0y", 3));
    EXPECT_EQ(bytes_of(p), (bytes{'a', 'b', 0, 'z', 0, 0, 0}));
}

TEST(PayloadRead, IntegersNeedTheirFullWidth)
{
    const mcl::binary_t p = payload_of({1, 2, 3, 4, 5, 6, 7});
    std::uint32_t cursor = 4;
    std::uint32_t u32 = 0xDEADBEEF;
    EXPECT_FALSE(mcl::get_u32(p, cursor, u32));
    EXPECT_EQ(cursor, 4u);
    EXPECT_EQ(u32, 0xDEADBEEFu);

    cursor = 0;
    std::uint64_t u64 = 0;
    EXPECT_FALSE(mcl::get_u64(p, cursor, u64));
    EXPECT_EQ(cursor, 0u);
    ASSERT_TRUE(mcl::get_u32(p, cursor, u32));
    EXPECT_EQ(u32, 0x04030201u);
    EXPECT_EQ(cursor, 4u);

    std::uint8_t u8 = 0;
    cursor = 6;
    ASSERT_TRUE(mcl::get_u8(p, cursor, u8));
    EXPECT_EQ(u8, 7);
    EXPECT_FALSE(mcl::get_u8(p, cursor, u8));
    EXPECT_EQ(cursor, 7u);
}

TEST(PayloadRead, CursorsNearTheTopOfThe32BitRangeDoNotWrapAround)
{
    const mcl::binary_t p = payload_of({1, 2, 3, 4});
    std::uint32_t cursor = 0xFFFFFFFEu;
    std::uint32_t u32 = 0;
    std::uint64_t u64 = 0;
    EXPECT_FALSE(mcl::get_u32(p, cursor, u32));
    EXPECT_FALSE(mcl::get_u64(p, cursor, u64));
    std::string text;
    EXPECT_FALSE(mcl::get_string(p, cursor, text));
    EXPECT_EQ(cursor, 0xFFFFFFFEu);
}

TEST(PayloadRead, StringsMustEndInsideThePayload)
{
    const mcl::binary_t p = payload_of({'h', 'i', 0, 'n', 'o'});
    std::uint32_t cursor = 0;
    std::string text = "old";
    ASSERT_TRUE(mcl::get_string(p, cursor, text));
    EXPECT_EQ(text, "hi");
    EXPECT_EQ(cursor, 3u);

    EXPECT_FALSE(mcl::get_string(p, cursor, text));  // "no" has no terminator
    EXPECT_EQ(cursor, 3u);
    EXPECT_EQ(text, "hi");

    cursor = 5;
    EXPECT_FALSE(mcl::get_string(p, cursor, text));  // nothing left at all
    EXPECT_EQ(cursor, 5u);
}

TEST(PayloadRead, WideStringsReadWholeUnitsUpToTheirTerminator)
{
    std::uint32_t cursor = 0;
    std::u16string text;
    // An odd trailing byte cannot hold a terminator unit.
    EXPECT_FALSE(mcl::get_wstring(payload_of({'a', 0, 0}), cursor, text));
    EXPECT_EQ(cursor, 0u);

    // The 0x00 0x00 across a unit boundary is not a terminator.
    const mcl::binary_t p = payload_of({0x00, 0x41, 0x00, 0x42, 0, 0, 0x07});
    ASSERT_TRUE(mcl::get_wstring(p, cursor, text));
    EXPECT_EQ(text, std::u16string(u"\u4100\u4200"));
    EXPECT_EQ(cursor, 6u);
    EXPECT_FALSE(mcl::get_wstring(p, cursor, text));
    EXPECT_EQ(cursor, 6u);
}

TEST(PayloadRead, RoundTripOfARecordWithAList)
{
    mcl::binary_t p;
    mcl::put_u8(p, 1);
    mcl::put_string(p, "Ferrolink \xc3\xa9");
    mcl::put_wstring(p, std::u16string(u"SYSTEM\\CurrentControlSet"));
    mcl::put_u64(p, 0x80000002ull);
    mcl::put_string_list(p, {"ORVANE_Ferrolink", "", "svc"});
    mcl::put_i32(p, -1);

    std::uint32_t cursor = 0;
    std::uint8_t flag = 0;
    std::string name;
    std::u16string path;
    std::uint64_t root = 0;
    std::vector<std::string> list;
    std::int32_t code = 0;
    ASSERT_TRUE(mcl::get_u8(p, cursor, flag));
    ASSERT_TRUE(mcl::get_string(p, cursor, name));
    ASSERT_TRUE(mcl::get_wstring(p, cursor, path));
    ASSERT_TRUE(mcl::get_u64(p, cursor, root));
    ASSERT_TRUE(mcl::get_string_list(p, cursor, list));
    ASSERT_TRUE(mcl::get_i32(p, cursor, code));
    EXPECT_EQ(cursor, p.size());
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(name, "Ferrolink \xc3\xa9");
    EXPECT_EQ(path, std::u16string(u"SYSTEM\\CurrentControlSet"));
    EXPECT_EQ(root, 0x80000002ull);
    EXPECT_EQ(list, (std::vector<std::string>{"ORVANE_Ferrolink", "", "svc"}));
    EXPECT_EQ(code, -1);
}

TEST(PayloadRead, StringListFailsWholeWhenAnElementIsMissing)
{
    std::vector<std::string> list{"stale"};
    std::uint32_t cursor = 0;
    ASSERT_TRUE(mcl::get_string_list(payload_of({0, 0, 0, 0}), cursor, list));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(cursor, 4u);

    cursor = 0;
    EXPECT_FALSE(mcl::get_string_list(payload_of({3, 0, 0, 0, 'a', 0, 'b', 0}), cursor, list));
    EXPECT_EQ(cursor, 0u);

    // A count far beyond the payload is refused by the first missing element, not by reserving for it.
    EXPECT_FALSE(mcl::get_string_list(payload_of({0xFF, 0xFF, 0xFF, 0xFF, 'a', 0}), cursor, list));
    EXPECT_FALSE(mcl::get_string_list(payload_of({1, 0, 0}), cursor, list));
    EXPECT_EQ(cursor, 0u);
}

TEST(PayloadRead, GenericListUsesTheElementReader)
{
    mcl::binary_t p;
    const std::vector<std::uint64_t> handles{1, 0xFFFFFFFFFFFFFFFFull, 42};
    ASSERT_TRUE(mcl::put_list(p, handles, [](mcl::binary_t& out, std::uint64_t h) { return mcl::put_u64(out, h); }));
    EXPECT_EQ(p.size(), 4u + 3 * 8);

    std::vector<std::uint64_t> back;
    std::uint32_t cursor = 0;
    auto read_u64 = [](const mcl::binary_t& in, std::uint32_t& at, std::uint64_t& h) { return mcl::get_u64(in, at, h); };
    ASSERT_TRUE(mcl::get_list(p, cursor, back, read_u64));
    EXPECT_EQ(back, handles);

    p.shrink(1);
    cursor = 0;
    EXPECT_FALSE(mcl::get_list(p, cursor, back, read_u64));
    EXPECT_EQ(cursor, 0u);
}

} // namespace
