#include "core/InputEvent.h"

#include "core/ByteReader.h"
#include "core/FieldWriter.h"

namespace TessaloyCore {
namespace {

using Modifiers = InputEvent::Modifiers;
using MouseButton = InputEvent::MouseButton;

void requireValid(bool isValid) {
    if (!isValid) throw CodecError<ByteReader>(CodecProblem::invalidValue);
}

bool isValidKeyCode(std::int64_t code) { return code >= 0 && code <= InputEvent::maximumKeyCode; }
bool isValidButton(MouseButton button) { return static_cast<std::uint8_t>(button) <= 2; }
bool isValidModifiers(Modifiers modifiers) { return (modifiers.rawValue & ~Modifiers::validBits) == 0; }

MouseButton readButton(ByteReader& reader) {
    const auto button = static_cast<MouseButton>(reader.u8());
    requireValid(isValidButton(button));
    return button;
}

std::int64_t readKeyCode(ByteReader& reader) {
    const std::int64_t code = reader.i64();
    requireValid(isValidKeyCode(code));
    return code;
}

std::int64_t readClickCount(ByteReader& reader) {
    const std::int64_t count = reader.i64();
    requireValid(count >= 1);
    return count;
}

Modifiers readModifiers(ByteReader& reader) {
    const Modifiers modifiers{reader.u8()};
    requireValid(isValidModifiers(modifiers));
    return modifiers;
}

// Each field is checked as it is read. List-initialisation evaluates its elements left to right,
// so the braces below read the fields in wire order.
InputEvent::Value readCase(std::uint8_t tag, ByteReader& reader) {
    switch (tag) {
        case 1:
            return InputEvent::PointerMove{reader.i64(), reader.i64()};
        case 2:
            return InputEvent::TrackedPointerMove{reader.i64(), reader.i64(), reader.u32()};
        case 3:
            return InputEvent::Button{readButton(reader), reader.boolean()};
        case 4:
            return InputEvent::Click{readButton(reader), reader.boolean(), readClickCount(reader)};
        case 5:
            return InputEvent::Scroll{reader.i64(), reader.i64()};
        case 6:
            return InputEvent::Key{readKeyCode(reader), reader.boolean(), readModifiers(reader)};
        case 7:
            return InputEvent::Text{reader.text(InputEvent::maximumTextBytes)};
        case 8:
            return InputEvent::EnableLocalCursor{};
        case 9:
            return InputEvent::ReleaseAll{};
        default:
            throw CodecError<ByteReader>(CodecProblem::unknownTag);
    }
}

struct CaseWriter {
    FieldWriter& writer;

    void operator()(const InputEvent::PointerMove& move) const {
        writer.i64(move.dx);
        writer.i64(move.dy);
    }
    void operator()(const InputEvent::TrackedPointerMove& move) const {
        writer.i64(move.dx);
        writer.i64(move.dy);
        writer.u32(move.sequence);
    }
    void operator()(const InputEvent::Button& button) const {
        FieldWriter::require(isValidButton(button.button));
        writer.u8(static_cast<std::uint8_t>(button.button));
        writer.boolean(button.isDown);
    }
    void operator()(const InputEvent::Click& click) const {
        FieldWriter::require(isValidButton(click.button) && click.count >= 1);
        writer.u8(static_cast<std::uint8_t>(click.button));
        writer.boolean(click.isDown);
        writer.i64(click.count);
    }
    void operator()(const InputEvent::Scroll& scroll) const {
        writer.i64(scroll.dx);
        writer.i64(scroll.dy);
    }
    void operator()(const InputEvent::Key& key) const {
        FieldWriter::require(isValidKeyCode(key.code) && isValidModifiers(key.modifiers));
        writer.i64(key.code);
        writer.boolean(key.isDown);
        writer.u8(key.modifiers.rawValue);
    }
    void operator()(const InputEvent::Text& text) const { writer.text(text.text, InputEvent::maximumTextBytes); }
    void operator()(const InputEvent::EnableLocalCursor&) const {}
    void operator()(const InputEvent::ReleaseAll&) const {}
};

} // namespace

InputEvent InputEvent::decode(const WirePacket& packet) {
    if (packet.kind() != WirePacket::Kind::input) throw Error(CodecProblem::wrongKind);
    return decodeAs<InputEvent>([&] {
        ByteReader reader(packet.payload());
        const std::uint8_t tag = reader.u8();
        InputEvent event{readCase(tag, reader)};
        reader.expectEnd();
        return event;
    });
}

Bytes InputEvent::encoded() const {
    return encodeAs<InputEvent>([&] {
        FieldWriter writer;
        writer.u8(static_cast<std::uint8_t>(value.index() + 1));
        std::visit(CaseWriter{writer}, value);
        return writer.take();
    });
}

WirePacket InputEvent::packet() const { return WirePacket(WirePacket::Kind::input, encoded()); }

} // namespace TessaloyCore
