#include "connectwire/ControlMessage.h"

#include "connectwire/CandidateList.h"
#include "connectwire/ConnectWireError.h"
#include "connectwire/WireReader.h"

#include <algorithm>

namespace TessaloyConnectWire {

namespace {

enum FrameType : std::uint8_t { registerType = 1, incomingType, pingType, pongType, refusedType, candidatesType };

void requireLength(ByteView bytes, std::size_t length) {
    if (bytes.size() != length) throw ConnectWireError(ConnectWireError::malformed);
}

void append(Bytes& body, ByteView bytes) { body.insert(body.end(), bytes.begin(), bytes.end()); }

Bytes typeAndBody(const ControlMessage::Value& value) {
    struct Encode {
        Bytes operator()(const ControlMessage::Register& message) const {
            if (message.meetingIDs.size() > ConnectProtocol::maximumMeetingIDs) {
                throw ConnectWireError(ConnectWireError::malformed);
            }
            Bytes body{registerType, message.version, static_cast<std::uint8_t>(message.meetingIDs.size())};
            for (const Bytes& id : message.meetingIDs) {
                requireLength(id, ConnectProtocol::meetingIDBytes);
                append(body, id);
            }
            return body;
        }
        Bytes operator()(const ControlMessage::Incoming& message) const {
            requireLength(message.sessionID, ConnectProtocol::sessionIDBytes);
            requireLength(message.meetingID, ConnectProtocol::meetingIDBytes);
            Bytes body{incomingType};
            append(body, message.sessionID);
            append(body, message.meetingID);
            body.push_back(wireByte(message.channel));
            return body;
        }
        Bytes operator()(const ControlMessage::Refused& message) const { return {refusedType, message.code}; }
        Bytes operator()(const ControlMessage::Candidates& message) const {
            Bytes body{candidatesType};
            append(body, CandidateList::encoded(message.candidates));
            return body;
        }
        Bytes operator()(const ControlMessage::Unknown& message) const { return {message.type}; }
        Bytes operator()(const ControlMessage::Ping&) const { return {pingType}; }
        Bytes operator()(const ControlMessage::Pong&) const { return {pongType}; }
    };
    return std::visit(Encode{}, value);
}

ControlMessage::Value decodeBody(std::uint8_t type, WireReader& body) {
    switch (type) {
        case registerType: {
            ControlMessage::Register message{.version = body.u8(), .meetingIDs = {}};
            const std::size_t count = body.u8();
            if (count > ConnectProtocol::maximumMeetingIDs) throw ConnectWireError(ConnectWireError::tooLarge);
            for (std::size_t index = 0; index < count; ++index) {
                const ByteView id = body.bytes(ConnectProtocol::meetingIDBytes);
                message.meetingIDs.emplace_back(id.begin(), id.end());
            }
            return message;
        }
        case incomingType: {
            const ByteView session = body.bytes(ConnectProtocol::sessionIDBytes);
            const ByteView meeting = body.bytes(ConnectProtocol::meetingIDBytes);
            const auto channel = connectChannel(body.u8());
            if (!channel) throw ConnectWireError(ConnectWireError::malformed);
            return ControlMessage::Incoming{Bytes(session.begin(), session.end()),
                                            Bytes(meeting.begin(), meeting.end()), *channel};
        }
        case pingType:
            return ControlMessage::Ping{};
        case pongType:
            return ControlMessage::Pong{};
        case refusedType:
            return ControlMessage::Refused{body.u8()};
        case candidatesType: {
            const ByteView rest = body.bytes(body.remaining());
            auto list = CandidateList::decode(rest);
            if (!list || list->length != rest.size()) throw ConnectWireError(ConnectWireError::malformed);
            return ControlMessage::Candidates{std::move(list->value)};
        }
        default:
            body.bytes(body.remaining());
            return ControlMessage::Unknown{type};
    }
}

// A frame's body, whole: a short one is malformed, since its length said it was all here.
ControlMessage::Value decodeFrameBody(ByteView bytes) {
    WireReader body(bytes);
    try {
        const std::uint8_t type = body.u8();
        ControlMessage::Value value = decodeBody(type, body);
        if (body.remaining() != 0) throw ConnectWireError(ConnectWireError::malformed);
        return value;
    } catch (const WireReader::NeedMore&) {
        throw ConnectWireError(ConnectWireError::malformed);
    }
}

} // namespace

Bytes ControlMessage::encoded() const {
    const Bytes body = typeAndBody(value_);
    Bytes frame(2 + body.size());
    frame[0] = static_cast<std::uint8_t>(body.size() >> 8);
    frame[1] = static_cast<std::uint8_t>(body.size());
    std::copy(body.begin(), body.end(), frame.begin() + 2);
    return frame;
}

std::optional<Decoded<ControlMessage>> ControlMessage::decode(ByteView buffer) {
    if (buffer.size() < 2) return std::nullopt;
    const std::size_t length = (std::size_t{buffer[0]} << 8) | buffer[1];
    if (length == 0 || length > ConnectProtocol::maximumControlFrameBytes) {
        throw ConnectWireError(ConnectWireError::tooLarge);
    }
    if (buffer.size() < length + 2) return std::nullopt;
    return Decoded<ControlMessage>{ControlMessage(decodeFrameBody(buffer.subspan(2, length))), length + 2};
}

} // namespace TessaloyConnectWire
