#pragma once

#include <cstddef>

namespace TessaloyNet {

struct PairingLimits {
    // The largest number of phones one Mac keeps paired.
    static constexpr std::size_t devicesPerMac = 3;
};

} // namespace TessaloyNet
