#include "core/ByteWriter.h"
#include "core/InputEvent.h"
#include "tests/support/ProblemOf.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

using Testing::problemOf;
using namespace TessaloyCore;
using Modifiers = InputEvent::Modifiers;
using MouseButton = InputEvent::MouseButton;

constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

std::optional<CodecProblem> decodingProblem(const Bytes& payload) {
    return problemOf<InputEvent::Error>([&] { InputEvent::decode(WirePacket(WirePacket::Kind::input, payload)); });
}

std::optional<CodecProblem> encodingProblem(const InputEvent& event) {
    return problemOf<InputEvent::Error>([&] { (void)event.encoded(); });
}

InputEvent decoded(const Bytes& payload) { return InputEvent::decode(WirePacket(WirePacket::Kind::input, payload)); }

// A u32 length and the text's bytes, unchecked, so that tests can send what the encoder refuses.
void rawText(ByteWriter& writer, std::string_view text) {
    writer.u32(static_cast<std::uint32_t>(text.size()));
    writer.fixed({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

struct Sample {
    InputEvent event;
    Bytes payload;
};

// One event of each case, with its payload written out by hand from the wire table.
std::vector<Sample> samples() {
    std::vector<Sample> list;
    const auto add = [&](InputEvent::Value value, const std::function<void(ByteWriter&)>& fields) {
        ByteWriter writer;
        fields(writer);
        list.push_back({InputEvent{std::move(value)}, writer.take()});
    };
    add(InputEvent::PointerMove{-3, int64Max}, [](ByteWriter& w) {
        w.u8(1);
        w.i64(-3);
        w.i64(int64Max);
    });
    add(InputEvent::TrackedPointerMove{int64Min, 7, 0xFFFF'FFFE}, [](ByteWriter& w) {
        w.u8(2);
        w.i64(int64Min);
        w.i64(7);
        w.u32(0xFFFF'FFFE);
    });
    add(InputEvent::Button{MouseButton::middle, true}, [](ByteWriter& w) {
        w.u8(3);
        w.u8(2);
        w.u8(1);
    });
    add(InputEvent::Click{MouseButton::right, false, 2}, [](ByteWriter& w) {
        w.u8(4);
        w.u8(1);
        w.u8(0);
        w.i64(2);
    });
    add(InputEvent::Scroll{0, -120}, [](ByteWriter& w) {
        w.u8(5);
        w.i64(0);
        w.i64(-120);
    });
    add(InputEvent::Key{9, true, Modifiers::command | Modifiers::shift}, [](ByteWriter& w) {
        w.u8(6);
        w.i64(9);
        w.u8(1);
        w.u8(9);
    });
    add(InputEvent::Text{"h\xC3\xA9 \xF0\x9F\x98\x80"}, [](ByteWriter& w) {
        w.u8(7);
        rawText(w, "h\xC3\xA9 \xF0\x9F\x98\x80");
    });
    add(InputEvent::EnableLocalCursor{}, [](ByteWriter& w) { w.u8(8); });
    add(InputEvent::ReleaseAll{}, [](ByteWriter& w) { w.u8(9); });
    return list;
}

Bytes keyPayload(std::int64_t code, std::uint8_t isDown, std::uint8_t modifiers) {
    ByteWriter writer;
    writer.u8(6);
    writer.i64(code);
    writer.u8(isDown);
    writer.u8(modifiers);
    return writer.take();
}

Bytes clickPayload(std::uint8_t button, std::uint8_t isDown, std::int64_t count) {
    ByteWriter writer;
    writer.u8(4);
    writer.u8(button);
    writer.u8(isDown);
    writer.i64(count);
    return writer.take();
}

Bytes textPayload(std::string_view text) {
    ByteWriter writer;
    writer.u8(7);
    rawText(writer, text);
    return writer.take();
}

TEST(InputEventCodec, EveryCaseHasTheTableLayoutAndRoundTrips) {
    const auto list = samples();
    ASSERT_EQ(list.size(), std::variant_size_v<InputEvent::Value>);
    for (const Sample& sample : list) {
        SCOPED_TRACE(sample.event.value.index());
        EXPECT_EQ(sample.event.encoded(), sample.payload);
        const WirePacket packet = sample.event.packet();
        EXPECT_EQ(packet.kind(), WirePacket::Kind::input);
        EXPECT_EQ(packet.payload(), sample.payload);
        EXPECT_EQ(InputEvent::decode(packet), sample.event);
    }
}

TEST(InputEventCodec, EveryShortenedPayloadIsTruncated) {
    for (const Sample& sample : samples()) {
        for (std::size_t length = 0; length < sample.payload.size(); ++length) {
            SCOPED_TRACE(testing::Message() << "tag " << int{sample.payload[0]} << ", length " << length);
            const Bytes prefix(sample.payload.begin(), sample.payload.begin() + static_cast<std::ptrdiff_t>(length));
            EXPECT_EQ(decodingProblem(prefix), CodecProblem::truncated);
        }
    }
}

TEST(InputEventCodec, ALongerPayloadHasTrailingBytes) {
    for (Sample& sample : samples()) {
        sample.payload.push_back(0);
        EXPECT_EQ(decodingProblem(sample.payload), CodecProblem::trailingBytes) << int{sample.payload[0]};
    }
}

TEST(InputEventCodec, RefusesUnknownTagsAndOtherPacketKinds) {
    for (const std::uint8_t tag : {0, 10, 255}) EXPECT_EQ(decodingProblem(Bytes{tag}), CodecProblem::unknownTag);
    for (const Bytes& payload : {Bytes{9}, Bytes{}}) {
        for (const auto kind : {WirePacket::Kind::session, WirePacket::Kind::ping, WirePacket::Kind::transfer}) {
            EXPECT_EQ(problemOf<InputEvent::Error>([&] { InputEvent::decode(WirePacket(kind, payload)); }),
                      CodecProblem::wrongKind);
        }
    }
}

TEST(InputEventCodec, KeyCodesLieWithinZeroToTheMaximum) {
    for (const std::int64_t code : {std::int64_t{0}, InputEvent::maximumKeyCode}) {
        const InputEvent event{InputEvent::Key{code, false, {}}};
        EXPECT_EQ(decoded(keyPayload(code, 0, 0)), event);
        EXPECT_EQ(event.encoded(), keyPayload(code, 0, 0));
    }
    for (const std::int64_t code : {std::int64_t{-1}, InputEvent::maximumKeyCode + 1, int64Min, int64Max}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(decodingProblem(keyPayload(code, 1, 0)), CodecProblem::invalidValue);
        EXPECT_EQ(encodingProblem(InputEvent{InputEvent::Key{code, true, {}}}), CodecProblem::invalidValue);
    }
}

TEST(InputEventCodec, ModifiersAreTheFiveKnownBits) {
    EXPECT_EQ(decoded(keyPayload(56, 1, 0x1F)), (InputEvent{InputEvent::Key{56, true, Modifiers{0x1F}}}));
    for (const std::uint8_t unknown : {0x20, 0x40, 0x80, 0xFF}) {
        SCOPED_TRACE(int{unknown});
        EXPECT_EQ(decodingProblem(keyPayload(56, 1, unknown)), CodecProblem::invalidValue);
        EXPECT_EQ(encodingProblem(InputEvent{InputEvent::Key{56, true, Modifiers{unknown}}}),
                  CodecProblem::invalidValue);
    }
}

TEST(InputEventCodec, ModifiersBehaveAsAnOptionSet) {
    EXPECT_EQ(Modifiers::shift.rawValue, 1);
    EXPECT_EQ(Modifiers::control.rawValue, 2);
    EXPECT_EQ(Modifiers::option.rawValue, 4);
    EXPECT_EQ(Modifiers::command.rawValue, 8);
    EXPECT_EQ(Modifiers::capsLock.rawValue, 16);
    Modifiers modifiers = Modifiers::shift | Modifiers::capsLock;
    EXPECT_TRUE(modifiers.contains(Modifiers::shift));
    EXPECT_FALSE(modifiers.contains(Modifiers::shift | Modifiers::control));
    modifiers.insert(Modifiers::control);
    modifiers.remove(Modifiers::capsLock);
    EXPECT_EQ(modifiers, Modifiers::shift | Modifiers::control);
    modifiers.remove(Modifiers::shift | Modifiers::control);
    EXPECT_TRUE(modifiers.isEmpty());
}

TEST(InputEventCodec, ClickCountsStartAtOne) {
    EXPECT_EQ(decoded(clickPayload(0, 1, 1)), (InputEvent{InputEvent::Click{MouseButton::left, true, 1}}));
    EXPECT_EQ(decoded(clickPayload(0, 1, int64Max)),
              (InputEvent{InputEvent::Click{MouseButton::left, true, int64Max}}));
    for (const std::int64_t count : {std::int64_t{0}, std::int64_t{-1}, int64Min}) {
        SCOPED_TRACE(count);
        EXPECT_EQ(decodingProblem(clickPayload(0, 1, count)), CodecProblem::invalidValue);
        EXPECT_EQ(encodingProblem(InputEvent{InputEvent::Click{MouseButton::left, true, count}}),
                  CodecProblem::invalidValue);
    }
}

TEST(InputEventCodec, ButtonsAndBooleansHaveNoOtherValues) {
    EXPECT_EQ(decodingProblem(clickPayload(3, 0, 1)), CodecProblem::invalidValue);
    EXPECT_EQ(decodingProblem(clickPayload(0, 2, 1)), CodecProblem::invalidValue);
    EXPECT_EQ(decodingProblem(Bytes{3, 3, 0}), CodecProblem::invalidValue);
    EXPECT_EQ(decodingProblem(Bytes{3, 0, 2}), CodecProblem::invalidValue);
    EXPECT_EQ(decodingProblem(keyPayload(0, 2, 0)), CodecProblem::invalidValue);
    const auto unknownButton = static_cast<MouseButton>(3);
    EXPECT_EQ(encodingProblem(InputEvent{InputEvent::Button{unknownButton, true}}), CodecProblem::invalidValue);
    EXPECT_EQ(encodingProblem(InputEvent{InputEvent::Click{unknownButton, true, 1}}), CodecProblem::invalidValue);
}

TEST(InputEventCodec, TextsHoldAtMost256ValidUtf8Bytes) {
    const std::string ascii(InputEvent::maximumTextBytes, 'a');
    std::string accented;
    for (std::size_t i = 0; i < InputEvent::maximumTextBytes / 2; ++i) accented += "\xC3\xA9";
    for (const std::string& text : {ascii, accented, std::string()}) {
        EXPECT_EQ(decoded(textPayload(text)), InputEvent{InputEvent::Text{text}});
        EXPECT_EQ(InputEvent{InputEvent::Text{text}}.encoded(), textPayload(text));
    }
    for (const std::string& text : {ascii + "a", accented + "a"}) {
        EXPECT_EQ(decodingProblem(textPayload(text)), CodecProblem::tooLong);
        EXPECT_EQ(encodingProblem(InputEvent{InputEvent::Text{text}}), CodecProblem::tooLong);
    }
    for (const std::string& text : {std::string("\xC3"), std::string("a\xED\xA0\x80"), ascii + "\xFF"}) {
        EXPECT_EQ(decodingProblem(textPayload(text)), CodecProblem::invalidValue);
        EXPECT_EQ(encodingProblem(InputEvent{InputEvent::Text{text}}), CodecProblem::invalidValue);
    }
}

TEST(InputEventCodec, ADeclaredTextLengthBeyondThePayloadIsTruncated) {
    ByteWriter writer;
    writer.u8(7);
    writer.u32(0xFFFF'FFFF);
    writer.u8('a');
    EXPECT_EQ(decodingProblem(writer.bytes()), CodecProblem::truncated);
}

} // namespace
