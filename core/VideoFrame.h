#pragma once

#include "core/Bytes.h"
#include "core/CodecError.h"
#include "core/WirePacket.h"

#include <cstdint>
#include <span>
#include <vector>

namespace TessaloyCore {

// One encoded access unit: its NAL units (without start codes), each sent with a u32 length.
struct VideoFrame {
    using Error = CodecError<VideoFrame>;

    std::uint32_t streamGeneration = 0;
    bool isKeyframe = false;
    // A sharper copy of a picture that stopped changing.
    bool isRefinement = false;
    std::uint64_t presentationMicroseconds = 0;
    std::vector<Bytes> nalUnits;

    static VideoFrame decode(const WirePacket& packet);
    WirePacket packet() const;

    // Builds the packet straight from views of the encoder's output, copying each NAL unit once.
    // Throws Error invalidValue for an empty NAL unit (no decoder would take it), WireError
    // payloadTooLarge when the frame does not fit in one packet.
    static WirePacket packet(std::uint32_t streamGeneration, bool isKeyframe, bool isRefinement,
                             std::uint64_t presentationMicroseconds, std::span<const ByteView> nalUnits);

    friend bool operator==(const VideoFrame&, const VideoFrame&) = default;
};

} // namespace TessaloyCore
