#include "core/ByteReader.h"
#include "core/ByteWriter.h"
#include "core/SessionMessage.h"
#include "tests/support/ProblemOf.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

using Testing::problemOf;
using namespace TessaloyCore;
using Message = SessionMessage;

std::optional<CodecProblem> decodingProblem(const Bytes& payload) {
    return problemOf<Message::Error>([&] { Message::decode(WirePacket(WirePacket::Kind::session, payload)); });
}

std::optional<CodecProblem> encodingProblem(Message::Value value) {
    return problemOf<Message::Error>([&] { (void)Message{std::move(value)}.encoded(); });
}

Message decoded(const Bytes& payload) { return Message::decode(WirePacket(WirePacket::Kind::session, payload)); }

// Payload bytes written field by field, unchecked, so that tests can send what the encoder refuses.
struct Payload {
    ByteWriter writer;

    explicit Payload(std::uint8_t tag) { writer.u8(tag); }
    Payload& u8(std::uint8_t value) {
        writer.u8(value);
        return *this;
    }
    Payload& u32(std::uint32_t value) {
        writer.u32(value);
        return *this;
    }
    Payload& i64(std::int64_t value) {
        writer.i64(value);
        return *this;
    }
    Payload& f64(double value) {
        writer.u64(std::bit_cast<std::uint64_t>(value));
        return *this;
    }
    Payload& text(std::string_view text) {
        writer.u32(static_cast<std::uint32_t>(text.size()));
        writer.fixed({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
        return *this;
    }
    Payload& bytes(const Bytes& bytes) {
        writer.u32(static_cast<std::uint32_t>(bytes.size()));
        writer.fixed(bytes);
        return *this;
    }
    Bytes take() { return writer.take(); }
};

// `count` copies of `piece`.
std::string repeated(std::string_view piece, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += piece;
    return text;
}

const std::string emoji = "\xF0\x9F\x98\x80";

Message::DisplayInfo display(std::uint32_t id, std::string name = "Built-in Retina Display") {
    return {id, 1512, 982, id == 1, std::move(name)};
}

Payload& displayFields(Payload& payload, const Message::DisplayInfo& info) {
    return payload.u32(info.id)
        .u32(static_cast<std::uint32_t>(info.width))
        .u32(static_cast<std::uint32_t>(info.height))
        .u8(info.isMain ? 1 : 0)
        .text(info.name);
}

Message::PointerImage pointerImage(Bytes png = {0x89, 'P', 'N', 'G'}) { return {77, 4.5, -0.0, 32, 32.25, png}; }

Payload& pointerImageFields(Payload& payload, const Message::PointerImage& image) {
    return payload.u32(image.id)
        .f64(image.hotspotX)
        .f64(image.hotspotY)
        .f64(image.width)
        .f64(image.height)
        .bytes(image.png);
}

struct Sample {
    Message message;
    Bytes payload;
};

// One message of each case, with its payload written out by hand from the wire table.
std::vector<Sample> samples() {
    const Message::DisplayInfo main = display(1);
    const Message::DisplayInfo side{0xA0B0C0D0, 0xFFFF'FFFF, 0, false, "Dell U2720Q " + emoji};
    const Message::PointerImage image = pointerImage();
    const HostInfo info{"1.4.2", "142", "Debian 12", "desktop", HostInfo::AvailableRelease{"1.5", -7}, true};
    std::vector<Sample> list;
    const auto add = [&](Message::Value value, Payload payload) {
        list.push_back({Message{std::move(value)}, payload.take()});
    };
    add(Message::PasteOnMac{"héllo"}, std::move(Payload(1).text("héllo")));
    add(Message::CopyFromMac{}, Payload(2));
    add(Message::ListDisplays{}, Payload(3));
    add(Message::ShareDisplay{0x01020304}, std::move(Payload(4).u32(0x01020304)));
    add(Message::Quality{QualityMode::balanced}, std::move(Payload(5).u8(3)));
    add(Message::Sound{true}, std::move(Payload(6).u8(1)));
    add(Message::VideoCodecs{{VideoCodec::hevc, VideoCodec::h264, VideoCodec::hevc}},
        std::move(Payload(7).u8(3).u8(2).u8(1).u8(2)));
    add(Message::DrawsPointer{}, Payload(8));
    add(Message::Privacy{{true, false}}, std::move(Payload(9).u8(1).u8(0)));
    add(Message::RequestKeyframe{}, Payload(10));
    add(Message::UpdateMac{}, Payload(11));
    add(Message::Clipboard{""}, std::move(Payload(12).text("")));
    add(Message::ClipboardRefused{Message::ClipboardRefusal::folder}, std::move(Payload(13).u8(4)));
    add(Message::Pasted{}, Payload(14));
    {
        Payload payload(15);
        payload.u8(2);
        displayFields(displayFields(payload, main), side).u32(0xA0B0C0D0);
        add(Message::Displays{{main, side}, 0xA0B0C0D0}, std::move(payload));
    }
    {
        Payload payload(16);
        pointerImageFields(payload, image);
        add(image, std::move(payload));
    }
    add(Message::PointerShape{42}, std::move(Payload(17).u32(42)));
    add(Message::PrivacyApplied{{false, true}}, std::move(Payload(18).u8(0).u8(1)));
    add(Message::RemoteAddresses{{"100.64.0.7:55802", "[fd7a:115c:a1e0::7]:55802"}},
        std::move(Payload(19).u8(2).text("100.64.0.7:55802").text("[fd7a:115c:a1e0::7]:55802")));
    add(Message::WakeInfo{{{{0, 0x1B, 0x63, 0x84, 0x45, 0xE6}, "192.168.1.20"}, {{}, ""}}},
        std::move(Payload(20).u8(2).bytes({0, 0x1B, 0x63, 0x84, 0x45, 0xE6}).text("192.168.1.20").bytes({}).text("")));
    add(Message::Relay{"relay.example 443 AAAA BBBB"}, std::move(Payload(21).text("relay.example 443 AAAA BBBB")));
    add(info,
        std::move(
            Payload(22).text("1.4.2").text("142").text("Debian 12").text("desktop").u8(1).text("1.5").i64(-7).u8(1)));
    add(UpdateStatus{UpdateStatus::State::failed, "The update could not be verified."},
        std::move(Payload(23).u8(6).u8(1).text("The update could not be verified.")));
    return list;
}

TEST(SessionMessageCodec, EveryCaseHasTheTableLayoutAndRoundTrips) {
    const auto list = samples();
    ASSERT_EQ(list.size(), 23u);
    ASSERT_EQ(list.size(), std::variant_size_v<Message::Value>);
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Sample& sample = list[i];
        SCOPED_TRACE(testing::Message() << "tag " << i + 1);
        EXPECT_EQ(sample.message.value.index(), i);
        EXPECT_EQ(sample.message.encoded(), sample.payload);
        const WirePacket packet = sample.message.packet();
        EXPECT_EQ(packet.kind(), WirePacket::Kind::session);
        EXPECT_EQ(packet.payload(), sample.payload);
        EXPECT_EQ(Message::decode(packet), sample.message);
    }
}

TEST(SessionMessageCodec, EveryShortenedPayloadIsTruncated) {
    for (const Sample& sample : samples()) {
        for (std::size_t length = 0; length < sample.payload.size(); ++length) {
            SCOPED_TRACE(testing::Message() << "tag " << int{sample.payload[0]} << ", length " << length);
            const Bytes prefix(sample.payload.begin(), sample.payload.begin() + static_cast<std::ptrdiff_t>(length));
            EXPECT_EQ(decodingProblem(prefix), CodecProblem::truncated);
        }
    }
}

TEST(SessionMessageCodec, ALongerPayloadHasTrailingBytes) {
    for (Sample& sample : samples()) {
        sample.payload.push_back(0);
        EXPECT_EQ(decodingProblem(sample.payload), CodecProblem::trailingBytes) << int{sample.payload[0]};
    }
}

TEST(SessionMessageCodec, TagTwentyFourIsReservedAndOtherTagsAreUnknown) {
    for (const std::uint8_t tag : {0, 24, 25, 255}) {
        EXPECT_EQ(decodingProblem(Bytes{tag}), CodecProblem::unknownTag) << int{tag};
        EXPECT_EQ(decodingProblem(Bytes{tag, 0, 0, 0, 0}), CodecProblem::unknownTag) << int{tag};
    }
}

TEST(SessionMessageCodec, RefusesOtherPacketKinds) {
    for (const Bytes& payload : {Bytes{2}, Bytes{}}) {
        for (const auto kind : {WirePacket::Kind::input, WirePacket::Kind::transfer, WirePacket::Kind::endSession}) {
            EXPECT_EQ(problemOf<Message::Error>([&] { Message::decode(WirePacket(kind, payload)); }),
                      CodecProblem::wrongKind);
        }
    }
}

TEST(SessionMessageCodec, PastedAndClipboardTextsHoldAtMost65536Bytes) {
    const std::string longest = repeated("\xC3\xA9", Message::maximumTextBytes / 2);
    for (const std::uint8_t tag : {1, 12}) {
        SCOPED_TRACE(int{tag});
        const Message::Value value =
            tag == 1 ? Message::Value{Message::PasteOnMac{longest}} : Message::Value{Message::Clipboard{longest}};
        EXPECT_EQ(decoded(Payload(tag).text(longest).take()), Message{value});
        EXPECT_EQ(Message{value}.encoded(), Payload(tag).text(longest).take());
        EXPECT_EQ(decodingProblem(Payload(tag).text(longest + "a").take()), CodecProblem::tooLong);
        EXPECT_EQ(decodingProblem(Payload(tag).text("ok\xC0\xAF").take()), CodecProblem::invalidValue);
    }
    EXPECT_EQ(encodingProblem(Message::PasteOnMac{longest + "a"}), CodecProblem::tooLong);
    EXPECT_EQ(encodingProblem(Message::Clipboard{longest + "a"}), CodecProblem::tooLong);
    EXPECT_EQ(encodingProblem(Message::Clipboard{"\xFF"}), CodecProblem::invalidValue);
}

TEST(SessionMessageCodec, EnumerationBytesOutsideTheirCasesAreInvalid) {
    for (const std::uint8_t mode : {0, 4, 255}) {
        EXPECT_EQ(decodingProblem(Payload(5).u8(mode).take()), CodecProblem::invalidValue);
    }
    for (const std::uint8_t reason : {0, 5}) {
        EXPECT_EQ(decodingProblem(Payload(13).u8(reason).take()), CodecProblem::invalidValue);
    }
    EXPECT_EQ(decodingProblem(Payload(7).u8(2).u8(1).u8(3).take()), CodecProblem::invalidValue);
    EXPECT_EQ(decodingProblem(Payload(7).u8(1).u8(0).take()), CodecProblem::invalidValue);

    EXPECT_EQ(encodingProblem(Message::Quality{static_cast<QualityMode>(4)}), CodecProblem::invalidValue);
    EXPECT_EQ(encodingProblem(Message::ClipboardRefused{static_cast<Message::ClipboardRefusal>(0)}),
              CodecProblem::invalidValue);
    EXPECT_EQ(encodingProblem(Message::VideoCodecs{{VideoCodec::h264, static_cast<VideoCodec>(3)}}),
              CodecProblem::invalidValue);
}

TEST(SessionMessageCodec, BooleansAreZeroOrOne) {
    EXPECT_EQ(decodingProblem(Payload(6).u8(2).take()), CodecProblem::invalidValue);
    for (const std::uint8_t tag : {9, 18}) {
        EXPECT_EQ(decodingProblem(Payload(tag).u8(2).u8(0).take()), CodecProblem::invalidValue);
        EXPECT_EQ(decodingProblem(Payload(tag).u8(0).u8(255).take()), CodecProblem::invalidValue);
    }
    Payload displays(15);
    displays.u8(1).u32(1).u32(2).u32(3).u8(2).text("a").u32(1);
    EXPECT_EQ(decodingProblem(displays.take()), CodecProblem::invalidValue);
}

TEST(SessionMessageCodec, VideoCodecListsHoldAtMostEight) {
    const std::vector<VideoCodec> eight(8, VideoCodec::h264);
    Payload payload(7);
    payload.u8(8);
    for (int i = 0; i < 8; ++i) payload.u8(1);
    EXPECT_EQ(decoded(payload.take()), Message{Message::VideoCodecs{eight}});
    EXPECT_EQ(decoded(Payload(7).u8(0).take()), Message{Message::VideoCodecs{}});
    Payload nine(7);
    nine.u8(9);
    for (int i = 0; i < 9; ++i) nine.u8(1);
    EXPECT_EQ(decodingProblem(nine.take()), CodecProblem::tooLong);
    std::vector<VideoCodec> tooMany = eight;
    tooMany.push_back(VideoCodec::hevc);
    EXPECT_EQ(encodingProblem(Message::VideoCodecs{tooMany}), CodecProblem::tooLong);
}

Bytes displaysPayload(const std::vector<Message::DisplayInfo>& displays, std::uint32_t shared) {
    Payload payload(15);
    payload.u8(static_cast<std::uint8_t>(displays.size()));
    for (const auto& info : displays) displayFields(payload, info);
    return payload.u32(shared).take();
}

TEST(SessionMessageCodec, DisplayListsHoldAtMostSixteen) {
    std::vector<Message::DisplayInfo> displays;
    for (std::uint32_t id = 1; id <= Message::maximumDisplays; ++id) displays.push_back(display(id));
    const Message sixteen{Message::Displays{displays, 3}};
    EXPECT_EQ(decoded(displaysPayload(displays, 3)), sixteen);
    EXPECT_EQ(sixteen.encoded(), displaysPayload(displays, 3));
    EXPECT_EQ(decoded(displaysPayload({}, 0)), Message{Message::Displays{}});

    displays.push_back(display(17));
    EXPECT_EQ(decodingProblem(displaysPayload(displays, 3)), CodecProblem::tooLong);
    EXPECT_EQ(encodingProblem(Message::Displays{displays, 3}), CodecProblem::tooLong);
}

TEST(SessionMessageCodec, DisplayNamesHoldAtMost64Characters) {
    for (const std::string& name : {repeated(emoji, 64), repeated("é", 63) + "a", std::string()}) {
        const Message message{Message::Displays{{display(5, name)}, 5}};
        EXPECT_EQ(decoded(displaysPayload({display(5, name)}, 5)), message);
        EXPECT_EQ(message.encoded(), displaysPayload({display(5, name)}, 5));
    }
    for (const std::string& name : {repeated(emoji, 65), repeated("é", 64) + "a"}) {
        EXPECT_EQ(decodingProblem(displaysPayload({display(5, name)}, 5)), CodecProblem::tooLong);
        EXPECT_EQ(encodingProblem(Message::Displays{{display(5, name)}, 5}), CodecProblem::tooLong);
    }
    EXPECT_EQ(decodingProblem(displaysPayload({display(5, "\xED\xBF\xBF")}, 5)), CodecProblem::invalidValue);
    EXPECT_EQ(encodingProblem(Message::Displays{{display(5, "\xC3")}, 5}), CodecProblem::invalidValue);
}

TEST(SessionMessageCodec, DisplaySizesMustFitTheirWireField) {
    for (const std::int64_t size : {std::int64_t{0}, std::int64_t{0xFFFF'FFFF}}) {
        Message::DisplayInfo info = display(2);
        info.width = size;
        info.height = size;
        EXPECT_EQ(decoded(Message{Message::Displays{{info}, 2}}.encoded()), (Message{Message::Displays{{info}, 2}}));
    }
    for (const std::int64_t size : {std::int64_t{-1}, std::int64_t{0x1'0000'0000}}) {
        Message::DisplayInfo wide = display(2);
        wide.width = size;
        EXPECT_EQ(encodingProblem(Message::Displays{{wide}, 2}), CodecProblem::invalidValue);
        Message::DisplayInfo tall = display(2);
        tall.height = size;
        EXPECT_EQ(encodingProblem(Message::Displays{{tall}, 2}), CodecProblem::invalidValue);
    }
}

TEST(SessionMessageCodec, PointerImagesCarryFiniteSizesAndANonEmptyPNG) {
    const Bytes largest(Message::PointerImage::maximumPNGBytes, 0xAB);
    Payload payload(16);
    pointerImageFields(payload, pointerImage(largest));
    EXPECT_EQ(decoded(payload.take()), Message{pointerImage(largest)});
    EXPECT_EQ(Message::PointerImage::maximumPNGBytes, 65'536u);

    Bytes tooLarge = largest;
    tooLarge.push_back(0);
    Payload large(16);
    pointerImageFields(large, pointerImage(tooLarge));
    EXPECT_EQ(decodingProblem(large.take()), CodecProblem::tooLong);
    EXPECT_EQ(encodingProblem(pointerImage(tooLarge)), CodecProblem::tooLong);

    Payload empty(16);
    pointerImageFields(empty, pointerImage({}));
    EXPECT_EQ(decodingProblem(empty.take()), CodecProblem::invalidValue);
    EXPECT_EQ(encodingProblem(pointerImage({})), CodecProblem::invalidValue);

    const double nonFinite[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity()};
    for (int field = 0; field < 4; ++field) {
        for (const double bad : nonFinite) {
            SCOPED_TRACE(testing::Message() << "field " << field << ", value " << bad);
            Message::PointerImage image = pointerImage();
            double* const fields[] = {&image.hotspotX, &image.hotspotY, &image.width, &image.height};
            *fields[field] = bad;
            Payload bytes(16);
            pointerImageFields(bytes, image);
            EXPECT_EQ(decodingProblem(bytes.take()), CodecProblem::invalidValue);
            EXPECT_EQ(encodingProblem(image), CodecProblem::invalidValue);
        }
    }
}

Bytes addressesPayload(const std::vector<std::string>& addresses) {
    Payload payload(19);
    payload.u8(static_cast<std::uint8_t>(addresses.size()));
    for (const auto& address : addresses) payload.text(address);
    return payload.take();
}

// An IPv6-style address whose host is `count` two-byte characters.
std::string bracketedAddress(std::size_t count) {
    std::string address = "[";
    address += repeated("é", count);
    address += "]:55802";
    return address;
}

TEST(SessionMessageCodec, RemoteAddressesAreAtMostFourOfAtMost64Characters) {
    EXPECT_EQ(Message::maximumRemoteAddresses, 4u);
    std::vector<std::string> four(4, bracketedAddress(56));
    ASSERT_EQ(scalarCount(four[0]), Message::maximumAddressCharacters);
    EXPECT_EQ(decoded(addressesPayload(four)), Message{Message::RemoteAddresses{four}});
    EXPECT_EQ(Message{Message::RemoteAddresses{four}}.encoded(), addressesPayload(four));
    EXPECT_EQ(decoded(addressesPayload({})), Message{Message::RemoteAddresses{}});

    std::vector<std::string> five = four;
    five.push_back("100.64.0.1:55802");
    EXPECT_EQ(decodingProblem(addressesPayload(five)), CodecProblem::tooLong);
    EXPECT_EQ(encodingProblem(Message::RemoteAddresses{five}), CodecProblem::tooLong);

    const std::vector<std::string> longName{bracketedAddress(57)};
    ASSERT_EQ(scalarCount(longName[0]), Message::maximumAddressCharacters + 1);
    EXPECT_EQ(decodingProblem(addressesPayload(longName)), CodecProblem::tooLong);
    EXPECT_EQ(encodingProblem(Message::RemoteAddresses{longName}), CodecProblem::tooLong);
    EXPECT_EQ(decodingProblem(addressesPayload({"\xF8\x88\x80\x80\x80"})), CodecProblem::invalidValue);
}

Bytes wakePayload(const std::vector<Message::WakeTarget>& targets) {
    Payload payload(20);
    payload.u8(static_cast<std::uint8_t>(targets.size()));
    for (const auto& target : targets) payload.bytes(target.hardwareAddress).text(target.ipv4Address);
    return payload.take();
}

TEST(SessionMessageCodec, WakeTargetsAreAtMostFourWithBoundedAddresses) {
    const Message::WakeTarget widest{Bytes(16, 0xEE), "255.255.255.255"};
    const std::vector<Message::WakeTarget> four(4, widest);
    EXPECT_EQ(decoded(wakePayload(four)), Message{Message::WakeInfo{four}});
    EXPECT_EQ(Message{Message::WakeInfo{four}}.encoded(), wakePayload(four));

    std::vector<Message::WakeTarget> five = four;
    five.push_back(widest);
    EXPECT_EQ(decodingProblem(wakePayload(five)), CodecProblem::tooLong);
    EXPECT_EQ(encodingProblem(Message::WakeInfo{five}), CodecProblem::tooLong);

    const Message::WakeTarget longHardware{Bytes(17, 1), "10.0.0.1"};
    const Message::WakeTarget longAddress{Bytes(6, 1), "255.255.255.2555"};
    for (const auto& target : {longHardware, longAddress}) {
        EXPECT_EQ(decodingProblem(wakePayload({target})), CodecProblem::tooLong);
        EXPECT_EQ(encodingProblem(Message::WakeInfo{{target}}), CodecProblem::tooLong);
    }
    EXPECT_EQ(decodingProblem(wakePayload({{Bytes(6, 1), "10.0.0.\x80"}})), CodecProblem::invalidValue);
}

TEST(SessionMessageCodec, RelayTextsHoldAtMost1024Bytes) {
    const std::string longest = repeated("\xE2\x82\xAC", 341) + "a";
    EXPECT_EQ(longest.size(), Message::maximumRelayBytes);
    EXPECT_EQ(decoded(Payload(21).text(longest).take()), Message{Message::Relay{longest}});
    EXPECT_EQ(Message{Message::Relay{longest}}.encoded(), Payload(21).text(longest).take());
    EXPECT_EQ(decodingProblem(Payload(21).text(longest + "a").take()), CodecProblem::tooLong);
    EXPECT_EQ(encodingProblem(Message::Relay{longest + "a"}), CodecProblem::tooLong);
}

TEST(SessionMessageCodec, InvalidValuesOutrankLimitsAndLimitsOutrankTrailingBytes) {
    // An over-long text that is also invalid UTF-8 is invalid; an over-long list is refused before
    // anything after it is looked at.
    EXPECT_EQ(decodingProblem(Payload(21).text(repeated("a", 2000) + "\xFF").take()), CodecProblem::invalidValue);
    EXPECT_EQ(decodingProblem(Payload(19).u8(5).take()), CodecProblem::tooLong);
    Bytes overLong = Payload(21).text(repeated("a", 1025)).take();
    overLong.push_back(0);
    EXPECT_EQ(decodingProblem(overLong), CodecProblem::tooLong);
}

} // namespace
