// The UTF-8 codec over arbitrary bytes, read once as UTF-8 and once as UTF-16 units. The replacing conversion
// never fails and gives text that the failing one accepts; well-formed text survives the round trip unchanged;
// whatever comes out of UTF-16 is well-formed UTF-8.
#include "mcl/utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void check_utf8(std::string_view text)
{
    std::u16string replaced;
    require(mcl::utf8_to_utf16(text, replaced, mcl::ill_formed::replace));
    require(replaced.size() <= text.size());
    std::u16string strict = u"stale";
    if (mcl::utf8_to_utf16(text, strict, mcl::ill_formed::fail)) {
        require(strict == replaced);
        require(mcl::utf16_to_utf8(strict) == text);
    } else {
        require(strict.empty());
        require(replaced.find(mcl::replacement_character) != std::u16string::npos);
    }
    const std::string again = mcl::utf16_to_utf8(replaced);
    std::u16string back;
    require(mcl::utf8_to_utf16(again, back, mcl::ill_formed::fail));
    require(back == replaced);
}

void check_utf16(const std::uint8_t* data, std::size_t size)
{
    std::u16string units;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    const std::string text = mcl::utf16_to_utf8(units);
    std::u16string back;
    require(mcl::utf8_to_utf16(text, back, mcl::ill_formed::fail));
    require(back.size() == units.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    check_utf8(std::string_view(reinterpret_cast<const char*>(data), size));
    check_utf16(data, size);
    return 0;
}
