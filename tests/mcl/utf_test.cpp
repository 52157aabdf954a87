#include "mcl/mswin/utf.h"

#include "mcl/payload.h"

#include "test_support.h"

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

// Every run log line with a name from the machine goes through wide_to_utf8, so it must give the bytes the
// platform converter (fltest::narrow) gives, unpaired surrogates included; and the UTF-8 it makes converts back
// as the platform converts it. Every string of four units out of the ones where UTF-8 changes its form.
TEST(Utf, AgreesWithThePlatformConverterOnEveryShortWideString)
{
    const wchar_t units[] = {0,      L'a',   0x7F,   0x80,   0x7FF,  0x800,  0xD7FF, 0xD800,
                             0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFE, 0xFFFF};
    int differing = 0;
    for (const wchar_t a : units)
        for (const wchar_t b : units)
            for (const wchar_t c : units)
                for (const wchar_t d : units) {
                    const std::wstring text{a, b, c, d};
                    const std::string narrow = mcl::mswin::wide_to_utf8(text);
                    if (narrow != fltest::narrow(text) || mcl::mswin::utf8_to_wide(narrow) != fltest::widen(narrow))
                        ++differing;
                }
    EXPECT_EQ(differing, 0);
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
