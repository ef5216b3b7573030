#pragma once

#include <cstddef>

namespace TessaloyConnectWire {

// A value decoded from the front of a receive buffer and the number of bytes it took.
template <typename Value>
struct Decoded {
    Value value;
    std::size_t length;

    friend bool operator==(const Decoded&, const Decoded&) = default;
};

} // namespace TessaloyConnectWire
