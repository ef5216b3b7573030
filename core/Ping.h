#pragma once

#include "core/CodecError.h"
#include "core/WirePacket.h"

#include <cstdint>

namespace TessaloyCore {

// A round-trip probe: a ping carries a token, and its pong echoes the same token.
struct Ping {
    using Error = CodecError<Ping>;

    bool isPong = false;
    std::uint64_t token = 0;

    // The answer to this ping.
    Ping pong() const noexcept { return {.isPong = true, .token = token}; }

    static Ping decode(const WirePacket& packet);
    WirePacket packet() const;

    friend bool operator==(const Ping&, const Ping&) = default;
};

} // namespace TessaloyCore
