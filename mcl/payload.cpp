#include "mcl/payload.h"

#include <algorithm>
#include <cstring>

namespace mcl {

namespace {

bool append_bytes(binary_t& payload, const unsigned char* bytes, std::size_t count)
{
    if (count > 0xFFFFFFFFu)
        return false;
    const std::uint32_t before = payload.size();
    payload.append(bytes, static_cast<std::uint32_t>(count));
    return payload.size() - before == count;
}

template <typename U>
bool put_little_endian(binary_t& payload, U value)
{
    unsigned char bytes[sizeof(U)];
    for (std::size_t i = 0; i < sizeof(U); ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    return append_bytes(payload, bytes, sizeof bytes);
}

// Room for `bytes` more bytes at cursor, without wrap-around.
bool has_room(const binary_t& payload, std::uint32_t cursor, std::uint32_t bytes)
{
    return static_cast<std::uint64_t>(cursor) + bytes <= payload.size();
}

template <typename U>
bool get_little_endian(const binary_t& payload, std::uint32_t& cursor, U& value)
{
    if (!has_room(payload, cursor, sizeof(U)))
        return false;
    U result = 0;
    const unsigned char* bytes = payload.data() + cursor;
    for (std::size_t i = 0; i < sizeof(U); ++i)
        result |= static_cast<U>(static_cast<U>(bytes[i]) << (8 * i));
    value = result;
    cursor += sizeof(U);
    return true;
}

} // namespace

bool put_u8(binary_t& payload, std::uint8_t value) { return append_bytes(payload, &value, 1); }

bool put_u32(binary_t& payload, std::uint32_t value) { return put_little_endian(payload, value); }

bool put_i32(binary_t& payload, std::int32_t value)
{
    return put_little_endian(payload, static_cast<std::uint32_t>(value));
}

bool put_u64(binary_t& payload, std::uint64_t value) { return put_little_endian(payload, value); }

bool put_string(binary_t& payload, std::string_view text)
{
    const std::size_t length = std::min(text.size(), text.find('\0'));
    const std::uint32_t before = payload.size();
    if (append_bytes(payload, reinterpret_cast<const unsigned char*>(text.data()), length) && put_u8(payload, 0))
        return true;
    payload.shrink(payload.size() - before);
    return false;
}

bool put_wstring(binary_t& payload, const char16_t* units, std::size_t count)
{
    if (units == nullptr)
        count = 0;
    const std::uint32_t before = payload.size();
    bool ok = true;
    for (std::size_t i = 0; ok && i < count && units[i] != 0; ++i)
        ok = put_little_endian(payload, static_cast<std::uint16_t>(units[i]));
    ok = ok && put_little_endian(payload, static_cast<std::uint16_t>(0));
    if (!ok)
        payload.shrink(payload.size() - before);
    return ok;
}

bool put_string_list(binary_t& payload, const std::vector<std::string>& texts)
{
    return put_list(payload, texts, [](binary_t& out, const std::string& text) { return put_string(out, text); });
}

bool get_u8(const binary_t& payload, std::uint32_t& cursor, std::uint8_t& value)
{
    return get_little_endian(payload, cursor, value);
}

bool get_u32(const binary_t& payload, std::uint32_t& cursor, std::uint32_t& value)
{
    return get_little_endian(payload, cursor, value);
}

bool get_i32(const binary_t& payload, std::uint32_t& cursor, std::int32_t& value)
{
    std::uint32_t raw = 0;
    if (!get_little_endian(payload, cursor, raw))
        return false;
    value = static_cast<std::int32_t>(raw);
    return true;
}

bool get_u64(const binary_t& payload, std::uint32_t& cursor, std::uint64_t& value)
{
    return get_little_endian(payload, cursor, value);
}

bool get_string(const binary_t& payload, std::uint32_t& cursor, std::string& value)
{
    if (cursor >= payload.size())
        return false;
    const unsigned char* start = payload.data() + cursor;
    const std::size_t room = payload.size() - cursor;
    const void* terminator = std::memchr(start, 0, room);
    if (terminator == nullptr)
        return false;
    const std::size_t length = static_cast<std::size_t>(static_cast<const unsigned char*>(terminator) - start);
    value.assign(reinterpret_cast<const char*>(start), length);
    cursor += static_cast<std::uint32_t>(length + 1);
    return true;
}

bool get_wstring(const binary_t& payload, std::uint32_t& cursor, std::u16string& value)
{
    if (cursor >= payload.size())
        return false;
    std::u16string units;
    for (std::uint32_t at = cursor; has_room(payload, at, 2); at += 2) {
        const char16_t unit = static_cast<char16_t>(payload.data()[at] | (payload.data()[at + 1] << 8));
        if (unit == 0) {
            value = std::move(units);
            cursor = at + 2;
            return true;
        }
        units.push_back(unit);
    }
    return false;
}

bool get_string_list(const binary_t& payload, std::uint32_t& cursor, std::vector<std::string>& values)
{
    return get_list(payload, cursor, values, [](const binary_t& in, std::uint32_t& at, std::string& text) {
        return get_string(in, at, text);
    });
}

} // namespace mcl
