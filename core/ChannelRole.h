#pragma once

#include "core/CodecError.h"
#include "core/WirePacket.h"

#include <cstdint>

namespace TessaloyCore {

// The role a connection declares in its first packet: one byte, media 0 or control 1. Used like
// an enumeration (`ChannelRole::media`, `switch`, `==`), and carries its own codec.
class ChannelRole {
public:
    enum class Case : std::uint8_t { media = 0, control = 1 };
    using enum Case;
    using Error = CodecError<ChannelRole>;

    constexpr ChannelRole(Case value) noexcept : value_(value) {}
    constexpr operator Case() const noexcept { return value_; }

    static ChannelRole decode(const WirePacket& packet);
    WirePacket packet() const;

private:
    Case value_;
};

// "media" or "control".
const char* nameOf(ChannelRole role) noexcept;

} // namespace TessaloyCore
