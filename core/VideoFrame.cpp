#include "core/VideoFrame.h"

#include "core/ByteReader.h"
#include "core/ByteWriter.h"

namespace TessaloyCore {
namespace {

constexpr std::uint8_t keyframeFlag = 1;
constexpr std::uint8_t refinementFlag = 2;
constexpr std::size_t fixedBytes = 4 + 1 + 8;

} // namespace

VideoFrame VideoFrame::decode(const WirePacket& packet) {
    if (packet.kind() != WirePacket::Kind::videoFrame) throw Error(CodecProblem::wrongKind);
    return decodeAs<VideoFrame>([&] {
        ByteReader reader(packet.payload());
        VideoFrame frame;
        frame.streamGeneration = reader.u32();
        const std::uint8_t flags = reader.u8();
        if ((flags & ~(keyframeFlag | refinementFlag)) != 0) throw CodecError<ByteReader>(CodecProblem::invalidValue);
        frame.isKeyframe = (flags & keyframeFlag) != 0;
        frame.isRefinement = (flags & refinementFlag) != 0;
        frame.presentationMicroseconds = reader.u64();
        while (reader.remaining() > 0) {
            const ByteView unit = reader.bytes(WirePacket::maximumPayloadBytes);
            if (unit.empty()) throw CodecError<ByteReader>(CodecProblem::invalidValue);
            frame.nalUnits.emplace_back(unit.begin(), unit.end());
        }
        return frame;
    });
}

WirePacket VideoFrame::packet() const {
    std::vector<ByteView> views(nalUnits.begin(), nalUnits.end());
    return packet(streamGeneration, isKeyframe, isRefinement, presentationMicroseconds, views);
}

WirePacket VideoFrame::packet(std::uint32_t streamGeneration, bool isKeyframe, bool isRefinement,
                              std::uint64_t presentationMicroseconds, std::span<const ByteView> nalUnits) {
    std::size_t size = fixedBytes;
    for (const ByteView unit : nalUnits) {
        if (unit.empty()) throw Error(CodecProblem::invalidValue);
        size += 4 + unit.size();
    }
    if (size > WirePacket::maximumPayloadBytes) throw WireError(WireErrorCase::payloadTooLarge);
    ByteWriter writer(size);
    writer.u32(streamGeneration);
    writer.u8(static_cast<std::uint8_t>((isKeyframe ? keyframeFlag : 0) | (isRefinement ? refinementFlag : 0)));
    writer.u64(presentationMicroseconds);
    for (const ByteView unit : nalUnits) {
        writer.u32(static_cast<std::uint32_t>(unit.size()));
        writer.fixed(unit);
    }
    return WirePacket(WirePacket::Kind::videoFrame, writer.take());
}

} // namespace TessaloyCore
