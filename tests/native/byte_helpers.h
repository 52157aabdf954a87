// Payloads as plain byte vectors, so tests compare them with hand-written bytes.
#pragma once

#include "mcl/buffer.h"

#include <cstdint>
#include <vector>

using bytes = std::vector<unsigned char>;

inline bytes bytes_of(const mcl::binary_t& b) { return bytes(b.begin(), b.end()); }

inline mcl::binary_t payload_of(const bytes& raw)
{
    mcl::binary_t b;
    b.append(raw.data(), static_cast<std::uint32_t>(raw.size()));
    return b;
}
