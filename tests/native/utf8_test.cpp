#include "mcl/utf8.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

constexpr char16_t fffd = 0xFFFD;

// `strict` is what the failing conversion gives (nothing when it fails), `replaced` what the replacing one
// gives. A well-formed text also comes back unchanged from UTF-16.
struct utf8_case {
    const char* name;
    std::string text;
    std::optional<std::u16string> strict;
    std::u16string replaced;
};

TEST(Utf8Codec, EachFormOneWayOrTheOtherAndEachIllFormedCharacterOnce)
{
    const std::u16string r(1, fffd);
    const utf8_case cases[] = {
        {"empty", "", u"", u""},
        {"0 byte inside", std::string("a\0b", 3), std::u16string(u"a\0b", 3), std::u16string(u"a\0b", 3)},
        {"U+0080", "\xC2\x80", u"\u0080", u"\u0080"},
        {"U+07FF", "\xDF\xBF", u"\u07FF", u"\u07FF"},
        {"U+0800", "\xE0\xA0\x80", u"\u0800", u"\u0800"},
        {"U+D7FF", "\xED\x9F\xBF", u"\uD7FF", u"\uD7FF"},
        {"U+E000", "\xEE\x80\x80", u"\uE000", u"\uE000"},
        {"U+FFFF", "\xEF\xBF\xBF", u"\xFFFF", u"\xFFFF"},
        {"U+10000", "\xF0\x90\x80\x80", u"\xD800\xDC00", u"\xD800\xDC00"},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF", u"\xDBFF\xDFFF"},
        {"overlong nul", "\xC0\x80", std::nullopt, r + r},
        {"overlong three bytes", "\xE0\x9F\xBF", std::nullopt, r + r + r},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", std::nullopt, r + r + r + r},
        {"high surrogate", "\xED\xA0\x80", std::nullopt, r + r + r},
        {"low surrogate", "\xED\xBF\xBF", std::nullopt, r + r + r},
        {"above U+10FFFF", "\xF4\x90\x80\x80", std::nullopt, r + r + r + r},
        {"lead F5", "\xF5\x80\x80\x80", std::nullopt, r + r + r + r},
        {"lead FF", "\xFF", std::nullopt, r},
        {"lone continuations", "a\x80\xBF", std::nullopt, u"a" + r + r},
        {"cut at the end", "a\xC3", std::nullopt, u"a" + r},
        {"cut three", "\xE6\x97", std::nullopt, r},
        {"cut four before a letter", "\xF0\x9F\x98" "a", std::nullopt, r + u"a"},
        {"bad continuation", "\xC3\x41", std::nullopt, r + u"A"},
        {"Unicode's own example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64", std::nullopt,
         u"a" + r + r + r + u"b" + r + u"c" + r + r + u"d"},
    };
    for (const utf8_case& c : cases) {
        SCOPED_TRACE(c.name);
        std::u16string units = u"stale";
        EXPECT_EQ(mcl::utf8_to_utf16(c.text, units, mcl::ill_formed::fail), c.strict.has_value());
        EXPECT_EQ(units, c.strict.value_or(u""));
        ASSERT_TRUE(mcl::utf8_to_utf16(c.text, units, mcl::ill_formed::replace));
        EXPECT_EQ(units, c.replaced);
        if (c.strict)
            EXPECT_EQ(mcl::utf16_to_utf8(*c.strict), c.text);
    }
}

} // namespace
