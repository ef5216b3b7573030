#include "core/AudioPacket.h"

#include "core/ByteReader.h"
#include "core/ByteWriter.h"

namespace TessaloyCore {

AudioPacket AudioPacket::decode(const WirePacket& packet) {
    if (packet.kind() != WirePacket::Kind::audio) throw Error(CodecProblem::wrongKind);
    return decodeAs<AudioPacket>([&] {
        ByteReader reader(packet.payload());
        AudioPacket audio;
        audio.sequence = reader.u32();
        audio.sampleRate = reader.u32();
        audio.channels = reader.u8();
        if (audio.channels != 1 && audio.channels != 2) throw CodecError<ByteReader>(CodecProblem::invalidValue);
        const std::size_t count = reader.count(maximumFrames);
        for (std::size_t i = 0; i < count; ++i) {
            const ByteView frame = reader.bytes(maximumFrameBytes);
            if (frame.empty()) throw CodecError<ByteReader>(CodecProblem::invalidValue);
            audio.frames.emplace_back(frame.begin(), frame.end());
        }
        reader.expectEnd();
        return audio;
    });
}

WirePacket AudioPacket::packet() const {
    if (channels != 1 && channels != 2) throw Error(CodecProblem::invalidValue);
    ByteWriter writer;
    writer.u32(sequence);
    writer.u32(sampleRate);
    writer.u8(channels);
    if (!writer.count(frames.size(), maximumFrames)) throw Error(CodecProblem::tooLong);
    for (const Bytes& frame : frames) {
        if (frame.empty()) throw Error(CodecProblem::invalidValue);
        if (!writer.bytes(frame, maximumFrameBytes)) throw Error(CodecProblem::tooLong);
    }
    return WirePacket(WirePacket::Kind::audio, writer.take());
}

} // namespace TessaloyCore
