// UTF-8 and UTF-16, both ways: the library's one codec, pure code without <windows.h>. Well-formed means what
// Unicode allows: no overlong form, no surrogate code point, nothing above U+10FFFF, no sequence cut short.
#pragma once

#include <cstddef>
#include <cwchar>
#include <string>
#include <string_view>

namespace mcl {

constexpr char32_t replacement_character = 0xFFFD;

// One step through UTF-8 text. Well-formed: `length` bytes (1 to 4) carry `code_point`. Ill-formed: `length` is
// the maximal subpart (the bytes that begin a well-formed sequence but do not finish one, at least 1), which
// counts as one ill-formed character.
struct utf8_step {
    std::size_t length = 0;
    bool well_formed = false;
    char32_t code_point = 0;
};

// The character that starts at text[at]; `at` must lie inside `text`.
utf8_step next_utf8(std::string_view text, std::size_t at);

// Appends a code point (at most U+10FFFF, no surrogate) as UTF-8.
void append_utf8(std::string& out, char32_t code_point);

// What an ill-formed character of the input does to a conversion.
enum class ill_formed {
    fail,     // the conversion fails and gives nothing
    replace,  // it becomes one U+FFFD (so "\xE2\x82" is one, "\xC0\x80" two: C0 begins no sequence)
};

// UTF-8 to UTF-16 with surrogate pairs; a 0 byte is a character like any other. False, and `units` empty, when
// `policy` is fail and the text is not well-formed.
bool utf8_to_utf16(std::string_view text, std::u16string& units, ill_formed policy);

// UTF-16 to UTF-8; each unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view units);

#if WCHAR_MAX == 0xFFFF
// The same where wchar_t is a UTF-16 unit (Windows).
bool utf8_to_utf16(std::string_view text, std::wstring& units, ill_formed policy);
std::string utf16_to_utf8(std::wstring_view units);
#endif

} // namespace mcl
