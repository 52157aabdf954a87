// The payload encoding: values laid end to end in a binary_t, without tags, padding or alignment.
//   u8: 1 byte; u32/i32: 4 bytes little-endian; u64: 8 bytes little-endian;
//   narrow string: its bytes and one 0 byte; wide string: its UTF-16LE units and one 0x0000 unit;
//   list: u32 count, then the elements; record: its fields in declared order.
// Writers append; readers take a cursor, check room before reading and leave cursor and output untouched
// when a value does not fit.
#pragma once

#include "mcl/buffer.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace mcl {

bool put_u8(binary_t& payload, std::uint8_t value);
bool put_u32(binary_t& payload, std::uint32_t value);
bool put_i32(binary_t& payload, std::int32_t value);
bool put_u64(binary_t& payload, std::uint64_t value);
// A narrow string ends at its first 0 byte: what follows one could not be read back.
bool put_string(binary_t& payload, std::string_view text);
bool put_wstring(binary_t& payload, const char16_t* units, std::size_t count);
bool put_string_list(binary_t& payload, const std::vector<std::string>& texts);

// Wide strings in any 16-bit code unit type (char16_t everywhere, wchar_t on Windows).
template <typename Unit>
bool put_wstring(binary_t& payload, std::basic_string_view<Unit> text)
{
    static_assert(sizeof(Unit) == 2, "wide strings are UTF-16");
    if constexpr (std::is_same<Unit, char16_t>::value) {
        return put_wstring(payload, text.data(), text.size());
    } else {
        const std::u16string units(text.begin(), text.end());
        return put_wstring(payload, units.data(), units.size());
    }
}

template <typename Unit>
bool put_wstring(binary_t& payload, const std::basic_string<Unit>& text)
{
    return put_wstring(payload, std::basic_string_view<Unit>(text));
}

// A list: the count, then write_element(payload, element) for each element.
template <typename T, typename Writer>
bool put_list(binary_t& payload, const std::vector<T>& elements, Writer write_element)
{
    if (elements.size() > 0xFFFFFFFFu)
        return false;
    bool ok = put_u32(payload, static_cast<std::uint32_t>(elements.size()));
    for (const T& element : elements)
        ok = ok && write_element(payload, element);
    return ok;
}

bool get_u8(const binary_t& payload, std::uint32_t& cursor, std::uint8_t& value);
bool get_u32(const binary_t& payload, std::uint32_t& cursor, std::uint32_t& value);
bool get_i32(const binary_t& payload, std::uint32_t& cursor, std::int32_t& value);
bool get_u64(const binary_t& payload, std::uint32_t& cursor, std::uint64_t& value);
// The terminator must lie inside the payload.
bool get_string(const binary_t& payload, std::uint32_t& cursor, std::string& value);
bool get_wstring(const binary_t& payload, std::uint32_t& cursor, std::u16string& value);
bool get_string_list(const binary_t& payload, std::uint32_t& cursor, std::vector<std::string>& values);

template <typename Unit>
bool get_wstring(const binary_t& payload, std::uint32_t& cursor, std::basic_string<Unit>& value)
{
    static_assert(sizeof(Unit) == 2, "wide strings are UTF-16");
    std::u16string units;
    if (!get_wstring(payload, cursor, units))
        return false;
    value.assign(units.begin(), units.end());
    return true;
}

// A list: the count, then read_element(payload, cursor, element) for each. The output is emptied first; on
// failure the cursor goes back to where the list began.
template <typename T, typename Reader>
bool get_list(const binary_t& payload, std::uint32_t& cursor, std::vector<T>& elements, Reader read_element)
{
    elements.clear();
    std::uint32_t at = cursor;
    std::uint32_t count = 0;
    if (!get_u32(payload, at, count))
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        T element{};
        if (!read_element(payload, at, element))
            return false;
        elements.push_back(std::move(element));
    }
    cursor = at;
    return true;
}

} // namespace mcl
