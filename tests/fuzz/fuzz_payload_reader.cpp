// Runs a script of payload reads over arbitrary bytes. The input is: one byte N, N script bytes, then the
// payload. Each script byte picks a reader; its high bits sometimes move the cursor to an arbitrary place.
// Every read must stay inside the payload, leave the cursor alone when it fails, and on success have
// consumed exactly the bytes that writing the value back produces.
#include "mcl/payload.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using mcl::binary_t;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// The read succeeded from `before` to `after`: the bytes in between must be what `expected` encodes.
void require_consumed(const binary_t& payload, std::uint32_t before, std::uint32_t after, const binary_t& expected)
{
    require(after > before);
    require(after <= payload.size());
    require(after - before == expected.size());
    require(std::memcmp(payload.data() + before, expected.data(), expected.size()) == 0);
}

// Reads one value of type T and writes it back into `expected`.
template <typename T, typename Get, typename Put>
bool read_back(const binary_t& payload, std::uint32_t& cursor, binary_t& expected, Get get, Put put)
{
    T value{};
    const bool ok = get(payload, cursor, value);
    put(expected, value);
    return ok;
}

void read_one(const binary_t& payload, std::uint32_t& cursor, unsigned op)
{
    const std::uint32_t before = cursor;
    binary_t expected;
    bool ok = false;
    switch (op % 8) {
    case 0:
        ok = read_back<std::uint8_t>(payload, cursor, expected, mcl::get_u8, mcl::put_u8);
        break;
    case 1:
        ok = read_back<std::uint32_t>(payload, cursor, expected, mcl::get_u32, mcl::put_u32);
        break;
    case 2:
        ok = read_back<std::int32_t>(payload, cursor, expected, mcl::get_i32, mcl::put_i32);
        break;
    case 3:
        ok = read_back<std::uint64_t>(payload, cursor, expected, mcl::get_u64, mcl::put_u64);
        break;
    case 4: {
        std::string value;
        ok = mcl::get_string(payload, cursor, value);
        require(!ok || value.find('\0') == std::string::npos);
        mcl::put_string(expected, value);
        break;
    }
    case 5: {
        std::u16string value;
        ok = mcl::get_wstring(payload, cursor, value);
        mcl::put_wstring(expected, value);
        break;
    }
    case 6:
        ok = read_back<std::vector<std::string>>(payload, cursor, expected, mcl::get_string_list,
                                                 mcl::put_string_list);
        break;
    default: {
        std::vector<std::uint64_t> values;
        ok = mcl::get_list(payload, cursor, values, [](const binary_t& in, std::uint32_t& at, std::uint64_t& v) {
            return mcl::get_u64(in, at, v);
        });
        mcl::put_list(expected, values, [](binary_t& out, std::uint64_t v) { return mcl::put_u64(out, v); });
        break;
    }
    }
    if (!ok) {
        require(cursor == before);
        return;
    }
    require_consumed(payload, before, cursor, expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t script_size = data[0] < size - 1 ? data[0] : size - 1;
    const std::uint8_t* script = data + 1;
    const binary_t payload(script + script_size, static_cast<std::uint32_t>(size - 1 - script_size));
    require(payload.size() == size - 1 - script_size);

    std::uint32_t cursor = 0;
    for (std::size_t i = 0; i < script_size; ++i) {
        const unsigned op = script[i];
        // Bit 7: jump somewhere first, past the end included, to probe the bounds checks.
        if (op & 0x80)
            cursor = static_cast<std::uint32_t>((op & 0x40) ? 0xFFFFFFF0u + (op & 0x0F) : (op & 0x3F) * 3u);
        read_one(payload, cursor, op);
    }
    // The element accessor never reaches outside the contents.
    require(payload[payload.size()] == 0);
    return 0;
}
