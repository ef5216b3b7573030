#include "core/SessionMessage.h"

#include "core/ByteReader.h"
#include "core/FieldWriter.h"

namespace TessaloyCore {
namespace {

using Message = SessionMessage;

[[noreturn]] void failInvalid() { throw CodecError<ByteReader>(CodecProblem::invalidValue); }

// A u8 count of at most `maximum` elements, then each element as `readElement` reads it.
template <typename ReadElement>
auto readList(ByteReader& reader, std::size_t maximum, ReadElement readElement) {
    std::vector<decltype(readElement(reader))> list;
    const std::size_t count = reader.count(maximum);
    list.reserve(count);
    for (std::size_t i = 0; i < count; ++i) list.push_back(readElement(reader));
    return list;
}

QualityMode readQuality(ByteReader& reader) {
    const auto mode = qualityModeFromByte(reader.u8());
    if (!mode) failInvalid();
    return *mode;
}

VideoCodec readCodec(ByteReader& reader) {
    const auto codec = videoCodecFromByte(reader.u8());
    if (!codec) failInvalid();
    return *codec;
}

bool isValidRefusal(std::uint8_t byte) { return byte >= 1 && byte <= 4; }

Message::ClipboardRefusal readRefusal(ByteReader& reader) {
    const std::uint8_t byte = reader.u8();
    if (!isValidRefusal(byte)) failInvalid();
    return static_cast<Message::ClipboardRefusal>(byte);
}

std::string readAddress(ByteReader& reader) { return reader.textOfCharacters(Message::maximumAddressCharacters); }

Message::Displays readDisplays(ByteReader& reader) {
    Message::Displays displays;
    displays.displays = readList(reader, Message::maximumDisplays, Message::DisplayInfo::read);
    displays.shared = reader.u32();
    return displays;
}

Message::Value readCase(std::uint8_t tag, ByteReader& reader) {
    switch (tag) {
        case 1:
            return Message::PasteOnMac{reader.text(Message::maximumTextBytes)};
        case 2:
            return Message::CopyFromMac{};
        case 3:
            return Message::ListDisplays{};
        case 4:
            return Message::ShareDisplay{reader.u32()};
        case 5:
            return Message::Quality{readQuality(reader)};
        case 6:
            return Message::Sound{reader.boolean()};
        case 7:
            return Message::VideoCodecs{readList(reader, Message::maximumVideoCodecs, readCodec)};
        case 8:
            return Message::DrawsPointer{};
        case 9:
            return Message::Privacy{Message::PrivacyState::read(reader)};
        case 10:
            return Message::RequestKeyframe{};
        case 11:
            return Message::UpdateMac{};
        case 12:
            return Message::Clipboard{reader.text(Message::maximumTextBytes)};
        case 13:
            return Message::ClipboardRefused{readRefusal(reader)};
        case 14:
            return Message::Pasted{};
        case 15:
            return readDisplays(reader);
        case 16:
            return Message::PointerImage::read(reader);
        case 17:
            return Message::PointerShape{reader.u32()};
        case 18:
            return Message::PrivacyApplied{Message::PrivacyState::read(reader)};
        case 19:
            return Message::RemoteAddresses{readList(reader, Message::maximumRemoteAddresses, readAddress)};
        case 20:
            return Message::WakeInfo{readList(reader, Message::maximumWakeTargets, Message::WakeTarget::read)};
        case 21:
            return Message::Relay{reader.text(Message::maximumRelayBytes)};
        case 22:
            return HostInfo::read(reader);
        case 23:
            return UpdateStatus::read(reader);
        default:
            throw CodecError<ByteReader>(CodecProblem::unknownTag);
    }
}

// Writes the fields of each case after its tag.
struct CaseWriter {
    FieldWriter& writer;

    template <typename Element, typename WriteElement>
    void list(const std::vector<Element>& list, std::size_t maximum, WriteElement writeElement) const {
        writer.count(list.size(), maximum);
        for (const Element& element : list) writeElement(element);
    }

    void operator()(const Message::PasteOnMac& paste) const { writer.text(paste.text, Message::maximumTextBytes); }
    void operator()(const Message::ShareDisplay& share) const { writer.u32(share.id); }
    void operator()(const Message::Quality& quality) const {
        FieldWriter::require(qualityModeFromByte(static_cast<std::uint8_t>(quality.mode)).has_value());
        writer.u8(static_cast<std::uint8_t>(quality.mode));
    }
    void operator()(const Message::Sound& sound) const { writer.boolean(sound.on); }
    void operator()(const Message::VideoCodecs& codecs) const {
        list(codecs.list, Message::maximumVideoCodecs, [&](VideoCodec codec) {
            FieldWriter::require(videoCodecFromByte(static_cast<std::uint8_t>(codec)).has_value());
            writer.u8(static_cast<std::uint8_t>(codec));
        });
    }
    void operator()(const Message::Privacy& privacy) const { privacy.state.write(writer); }
    void operator()(const Message::Clipboard& clipboard) const {
        writer.text(clipboard.text, Message::maximumTextBytes);
    }
    void operator()(const Message::ClipboardRefused& refused) const {
        FieldWriter::require(isValidRefusal(static_cast<std::uint8_t>(refused.reason)));
        writer.u8(static_cast<std::uint8_t>(refused.reason));
    }
    void operator()(const Message::Displays& displays) const {
        list(displays.displays, Message::maximumDisplays,
             [&](const Message::DisplayInfo& display) { display.write(writer); });
        writer.u32(displays.shared);
    }
    void operator()(const Message::PointerImage& image) const { image.write(writer); }
    void operator()(const Message::PointerShape& shape) const { writer.u32(shape.id); }
    void operator()(const Message::PrivacyApplied& applied) const { applied.state.write(writer); }
    void operator()(const Message::RemoteAddresses& addresses) const {
        list(addresses.list, Message::maximumRemoteAddresses,
             [&](const std::string& address) { writer.textOfCharacters(address, Message::maximumAddressCharacters); });
    }
    void operator()(const Message::WakeInfo& wake) const {
        list(wake.list, Message::maximumWakeTargets, [&](const Message::WakeTarget& target) { target.write(writer); });
    }
    void operator()(const Message::Relay& relay) const { writer.text(relay.text, Message::maximumRelayBytes); }
    void operator()(const HostInfo& info) const { info.write(writer); }
    void operator()(const UpdateStatus& status) const { status.write(writer); }

    // The cases without fields.
    template <typename Case>
    requires std::is_empty_v<Case>
    void operator()(const Case&) const {}
};

} // namespace

SessionMessage SessionMessage::decode(const WirePacket& packet) {
    if (packet.kind() != WirePacket::Kind::session) throw Error(CodecProblem::wrongKind);
    return decodeAs<SessionMessage>([&] {
        ByteReader reader(packet.payload());
        const std::uint8_t tag = reader.u8();
        SessionMessage message{readCase(tag, reader)};
        reader.expectEnd();
        return message;
    });
}

Bytes SessionMessage::encoded() const {
    return encodeAs<SessionMessage>([&] {
        FieldWriter writer;
        writer.u8(static_cast<std::uint8_t>(value.index() + 1));
        std::visit(CaseWriter{writer}, value);
        return writer.take();
    });
}

WirePacket SessionMessage::packet() const { return WirePacket(WirePacket::Kind::session, encoded()); }

} // namespace TessaloyCore
