#include "core/VideoConfiguration.h"

#include "core/ByteReader.h"
#include "core/ByteWriter.h"

namespace TessaloyCore {

VideoConfiguration VideoConfiguration::decode(const WirePacket& packet) {
    if (packet.kind() != WirePacket::Kind::videoConfiguration) throw Error(CodecProblem::wrongKind);
    return decodeAs<VideoConfiguration>([&] {
        ByteReader reader(packet.payload());
        VideoConfiguration configuration;
        const auto codec = videoCodecFromByte(reader.u8());
        if (!codec) throw CodecError<ByteReader>(CodecProblem::invalidValue);
        configuration.codec = *codec;
        configuration.streamGeneration = reader.u32();
        configuration.width = reader.u32();
        configuration.height = reader.u32();
        const std::size_t count = reader.count(maximumParameterSets);
        for (std::size_t i = 0; i < count; ++i) {
            const ByteView set = reader.bytes(maximumParameterSetBytes);
            configuration.parameterSets.emplace_back(set.begin(), set.end());
        }
        reader.expectEnd();
        return configuration;
    });
}

WirePacket VideoConfiguration::packet() const {
    ByteWriter writer;
    writer.u8(static_cast<std::uint8_t>(codec));
    writer.u32(streamGeneration);
    writer.u32(width);
    writer.u32(height);
    if (!writer.count(parameterSets.size(), maximumParameterSets)) throw Error(CodecProblem::tooLong);
    for (const Bytes& set : parameterSets) {
        if (!writer.bytes(set, maximumParameterSetBytes)) throw Error(CodecProblem::tooLong);
    }
    return WirePacket(WirePacket::Kind::videoConfiguration, writer.take());
}

} // namespace TessaloyCore
