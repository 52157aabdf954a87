#include "mcl/mswin/utf.h"

#include "mcl/payload.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

TEST(Utf, Utf8BecomesUtf16WithSurrogatePairs)
{
    EXPECT_EQ(mcl::mswin::utf8_to_wide("ORVANE_Ferrolink"), L"ORVANE_Ferrolink");
    EXPECT_EQ(mcl::mswin::utf8_to_wide("\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e"), std::wstring(L"\u00e9\u20ac\xd834\xdd1e"));
    EXPECT_EQ(mcl::mswin::utf8_to_wide(""), L"");
}

TEST(Utf, WideBecomesUtf8AndBack)
{
    const std::wstring text = L"NT SERVICE\\\u00c5ngstr\u00f6m \xd834\xdd1e";
    const std::string narrow = mcl::mswin::wide_to_utf8(text);
    EXPECT_EQ(narrow, "NT SERVICE\\\xc3\x85ngstr\xc3\xb6m \xf0\x9d\x84\x9e");
    EXPECT_EQ(mcl::mswin::utf8_to_wide(narrow), text);
    EXPECT_EQ(mcl::mswin::wide_to_utf8(L""), "");
}

} // namespace

namespace {

TEST(Utf, WindowsWideStringsGoIntoPayloadsAsUtf16)
{
    mcl::binary_t p;
    const std::wstring account = mcl::mswin::utf8_to_wide("\xc3\xa9\xf0\x9d\x84\x9e");
    ASSERT_TRUE(mcl::put_wstring(p, account));
    EXPECT_EQ(std::vector<unsigned char>(p.begin(), p.end()),
              (std::vector<unsigned char>{0xE9, 0x00, 0x34, 0xD8, 0x1E, 0xDD, 0, 0}));
    std::wstring back;
    std::uint32_t cursor = 0;
    ASSERT_TRUE(mcl::get_wstring(p, cursor, back));
    EXPECT_EQ(back, account);
    EXPECT_EQ(cursor, 8u);
}

} // namespace
