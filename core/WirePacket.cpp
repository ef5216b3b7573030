#include "core/WirePacket.h"

#include <algorithm>

namespace TessaloyCore {
namespace {

constexpr std::array<std::uint8_t, 4> magic{'T', 'S', 'L', 'Y'};

} // namespace

const char* nameOf(WireErrorCase value) noexcept {
    switch (value) {
        case WireErrorCase::badMagic:
            return "badMagic";
        case WireErrorCase::unsupportedVersion:
            return "unsupportedVersion";
        case WireErrorCase::unknownKind:
            return "unknownKind";
        case WireErrorCase::reservedBytesNotZero:
            return "reservedBytesNotZero";
        case WireErrorCase::payloadTooLarge:
            return "payloadTooLarge";
    }
    return "unknown";
}

const char* descriptionOf(WireErrorCase value) noexcept {
    switch (value) {
        case WireErrorCase::badMagic:
            return "The device sent something that is not a Plovander packet.";
        case WireErrorCase::unsupportedVersion:
            return "The device speaks a version this Mac does not know.";
        case WireErrorCase::unknownKind:
            return "The device sent a packet of an unknown kind.";
        case WireErrorCase::reservedBytesNotZero:
            return "The device sent a malformed packet.";
        case WireErrorCase::payloadTooLarge:
            return "The device sent a packet that is too large.";
    }
    return "Something went wrong.";
}

const char* nameOf(WirePacket::Kind kind) noexcept {
    switch (kind) {
        case WirePacket::Kind::videoConfiguration:
            return "videoConfiguration";
        case WirePacket::Kind::videoFrame:
            return "videoFrame";
        case WirePacket::Kind::ping:
            return "ping";
        case WirePacket::Kind::endSession:
            return "endSession";
        case WirePacket::Kind::pairingExchange:
            return "pairingExchange";
        case WirePacket::Kind::input:
            return "input";
        case WirePacket::Kind::channelRole:
            return "channelRole";
        case WirePacket::Kind::cursorUpdate:
            return "cursorUpdate";
        case WirePacket::Kind::session:
            return "session";
        case WirePacket::Kind::transfer:
            return "transfer";
        case WirePacket::Kind::audio:
            return "audio";
    }
    return "unknown";
}

WirePacket::WirePacket(Kind kind, Bytes payload) : kind_(kind), payload_(std::move(payload)) {
    if (payload_.size() > maximumPayloadBytes) throw WireError(WireErrorCase::payloadTooLarge);
}

std::array<std::uint8_t, WirePacket::headerSize> WirePacket::header() const noexcept {
    const auto length = static_cast<std::uint32_t>(payload_.size());
    return {magic[0],
            magic[1],
            magic[2],
            magic[3],
            version,
            static_cast<std::uint8_t>(kind_),
            0,
            0,
            static_cast<std::uint8_t>(length >> 24),
            static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length)};
}

Bytes WirePacket::encoded() const {
    Bytes bytes(headerSize + payload_.size());
    const auto head = header();
    std::copy(head.begin(), head.end(), bytes.begin());
    std::copy(payload_.begin(), payload_.end(), bytes.begin() + headerSize);
    return bytes;
}

WirePacket::Header WirePacket::parseHeader(std::span<const std::uint8_t, headerSize> bytes) {
    if (!std::equal(magic.begin(), magic.end(), bytes.begin())) throw WireError(WireErrorCase::badMagic);
    if (bytes[4] != version) throw WireError(WireErrorCase::unsupportedVersion);
    if (bytes[5] < 1 || bytes[5] > 11) throw WireError(WireErrorCase::unknownKind);
    if (bytes[6] != 0 || bytes[7] != 0) throw WireError(WireErrorCase::reservedBytesNotZero);
    const std::uint32_t length =
        std::uint32_t{bytes[8]} << 24 | std::uint32_t{bytes[9]} << 16 | std::uint32_t{bytes[10]} << 8 | bytes[11];
    if (length > maximumPayloadBytes) throw WireError(WireErrorCase::payloadTooLarge);
    return {static_cast<Kind>(bytes[5]), length};
}

} // namespace TessaloyCore
