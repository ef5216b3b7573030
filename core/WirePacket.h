#pragma once

#include "core/Bytes.h"
#include "core/WireError.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace TessaloyCore {

// One framed packet of every channel: a 12-byte header ("TSLY", version 1, kind, two zero bytes,
// payload length as u32) and at most 2,097,152 payload bytes.
class WirePacket {
public:
    enum class Kind : std::uint8_t {
        videoConfiguration = 1,
        videoFrame = 2,
        ping = 3,
        endSession = 4,
        pairingExchange = 5,
        input = 6,
        channelRole = 7,
        cursorUpdate = 8,
        session = 9,
        transfer = 10,
        audio = 11,
    };

    struct Header {
        Kind kind;
        std::uint32_t payloadLength;
    };

    static constexpr std::size_t headerSize = 12;
    static constexpr std::size_t maximumPayloadBytes = 2'097'152;
    static constexpr std::uint8_t version = 1;

    // Throws WireError payloadTooLarge when the payload exceeds maximumPayloadBytes.
    WirePacket(Kind kind, Bytes payload);

    Kind kind() const noexcept { return kind_; }
    const Bytes& payload() const noexcept { return payload_; }
    Bytes takePayload() noexcept { return std::move(payload_); }

    std::array<std::uint8_t, headerSize> header() const noexcept;
    // Header and payload in one buffer.
    Bytes encoded() const;

    // Reads a header, throwing WireError for a bad magic, another version, an unknown kind,
    // non-zero reserved bytes or a declared length over the limit.
    static Header parseHeader(std::span<const std::uint8_t, headerSize> bytes);

    friend bool operator==(const WirePacket&, const WirePacket&) = default;

private:
    Kind kind_;
    Bytes payload_;
};

// The kind's case name, as in "videoFrame".
const char* nameOf(WirePacket::Kind kind) noexcept;

} // namespace TessaloyCore
