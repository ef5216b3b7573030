#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace TessaloyCore {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Orders byte strings as std::less<Bytes> does, for maps keyed by bytes. Spelled out because GCC 12
// at -O3 misreads the three-way comparison of two vectors as an overlong memcmp.
struct BytesOrder {
    bool operator()(ByteView a, ByteView b) const { return std::ranges::lexicographical_compare(a, b); }
};

} // namespace TessaloyCore
