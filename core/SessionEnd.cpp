#include "core/SessionEnd.h"

#include "core/ByteReader.h"
#include "core/ByteWriter.h"

namespace TessaloyCore {
namespace {

bool isKnown(std::uint8_t byte) noexcept {
    return byte >= static_cast<std::uint8_t>(SessionEnd::Reason::failed) &&
           byte <= static_cast<std::uint8_t>(SessionEnd::Reason::hostDisconnected);
}

// A failure says what failed; no other reason has anything to say.
bool textFitsReason(SessionEnd::Reason reason, const std::string& text) noexcept {
    return (reason == SessionEnd::Reason::failed) != text.empty();
}

} // namespace

const char* nameOf(SessionEnd::Reason reason) noexcept {
    switch (reason) {
        case SessionEnd::Reason::failed:
            return "failed";
        case SessionEnd::Reason::userStopped:
            return "userStopped";
        case SessionEnd::Reason::peerDisconnected:
            return "peerDisconnected";
        case SessionEnd::Reason::offerExpired:
            return "offerExpired";
        case SessionEnd::Reason::rejected:
            return "rejected";
        case SessionEnd::Reason::hostDisconnected:
            return "hostDisconnected";
    }
    return "unknown";
}

SessionEnd SessionEnd::decode(const WirePacket& packet) {
    if (packet.kind() != WirePacket::Kind::endSession) throw Error(CodecProblem::wrongKind);
    return decodeAs<SessionEnd>([&] {
        ByteReader reader(packet.payload());
        const std::uint8_t byte = reader.u8();
        if (!isKnown(byte)) throw CodecError<ByteReader>(CodecProblem::invalidValue);
        SessionEnd end{.reason = static_cast<Reason>(byte), .text = reader.text(maximumTextBytes)};
        if (!textFitsReason(end.reason, end.text)) throw CodecError<ByteReader>(CodecProblem::invalidValue);
        reader.expectEnd();
        return end;
    });
}

WirePacket SessionEnd::packet() const {
    if (!isKnown(static_cast<std::uint8_t>(reason)) || !textFitsReason(reason, text) || !isValidUtf8(text)) {
        throw Error(CodecProblem::invalidValue);
    }
    if (text.size() > maximumTextBytes) throw Error(CodecProblem::tooLong);
    ByteWriter writer(1 + 4 + text.size());
    writer.u8(static_cast<std::uint8_t>(reason));
    if (!writer.text(text, maximumTextBytes)) throw Error(CodecProblem::tooLong);
    return WirePacket(WirePacket::Kind::endSession, writer.take());
}

} // namespace TessaloyCore
