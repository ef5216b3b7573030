#pragma once

#include "core/VideoConfiguration.h"
#include "core/VideoFrame.h"
#include "core/WirePacket.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace VideoPackets {

using TessaloyCore::Bytes;
using TessaloyCore::WirePacket;

// The fixed fields of a frame's payload plus one NAL unit's length.
inline constexpr std::size_t frameOverhead = 4 + 1 + 8 + 4;

// A frame whose payload is exactly `payloadBytes` long (at least frameOverhead + 1); `index` goes
// into the presentation time so tests can tell frames apart.
inline WirePacket frame(std::uint32_t generation, bool isKeyframe, std::uint64_t index,
                        std::size_t payloadBytes = 100) {
    TessaloyCore::VideoFrame frame;
    frame.streamGeneration = generation;
    frame.isKeyframe = isKeyframe;
    frame.presentationMicroseconds = index;
    frame.nalUnits.push_back(Bytes(payloadBytes - frameOverhead, isKeyframe ? 0x65 : 0x41));
    return frame.packet();
}

inline WirePacket keyframe(std::uint32_t generation, std::uint64_t index, std::size_t payloadBytes = 100) {
    return frame(generation, true, index, payloadBytes);
}

inline WirePacket delta(std::uint32_t generation, std::uint64_t index, std::size_t payloadBytes = 100) {
    return frame(generation, false, index, payloadBytes);
}

inline WirePacket configuration(std::uint32_t generation, std::uint8_t marker = 1) {
    TessaloyCore::VideoConfiguration configuration;
    configuration.streamGeneration = generation;
    configuration.width = 1920;
    configuration.height = 1080;
    configuration.parameterSets = {Bytes{0x67, marker}, Bytes{0x68, marker}};
    return configuration.packet();
}

inline TessaloyCore::VideoFrame decoded(const WirePacket& packet) { return TessaloyCore::VideoFrame::decode(packet); }

inline std::uint64_t indexOf(const WirePacket& packet) { return decoded(packet).presentationMicroseconds; }

} // namespace VideoPackets
