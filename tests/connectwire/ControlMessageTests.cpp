#include "connectwire/ConnectWireError.h"
#include "connectwire/ControlMessage.h"
#include "tests/support/ProblemOf.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using Testing::problemOf;
using namespace TessaloyConnectWire;

Bytes filled(std::size_t count, std::uint8_t byte) { return Bytes(count, byte); }

TEST(ControlMessage, DecodesFramesAsTheyArrive) {
    struct Row {
        Bytes buffer;
        std::optional<Decoded<ControlMessage>> expected;
    };
    Bytes shortIncoming{0x00, 0x32, 0x02};
    shortIncoming.resize(3 + 20, 0xAB);
    const Row rows[] = {
        {{}, std::nullopt},
        {{0x00}, std::nullopt},
        {{0x00, 0x01, 0x03}, Decoded<ControlMessage>{ControlMessage::Ping{}, 3}},
        {{0x00, 0x01, 0x04, 0x99}, Decoded<ControlMessage>{ControlMessage::Pong{}, 3}},
        {{0x00, 0x01, 0x09}, Decoded<ControlMessage>{ControlMessage::Unknown{9}, 3}},
        {{0x00, 0x03, 0x09, 0xAA, 0xBB}, Decoded<ControlMessage>{ControlMessage::Unknown{9}, 5}},
        {{0x00, 0x01, 0x00}, Decoded<ControlMessage>{ControlMessage::Unknown{0}, 3}},
        {{0x00, 0x02, 0x05, 0x07}, Decoded<ControlMessage>{ControlMessage::Refused{7}, 4}},
        {{0x00, 0x02, 0x06, 0x00}, Decoded<ControlMessage>{ControlMessage::Candidates{}, 4}},
        {shortIncoming, std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(ControlMessage::decode(row.buffer), row.expected);
}

TEST(ControlMessage, RefusesBadFrames) {
    using E = ConnectWireError;
    Bytes incoming{0x00, 0x32, 0x02};
    incoming.resize(3 + 48, 0x11);
    Bytes badChannel0 = incoming, badChannel4 = incoming;
    badChannel0.push_back(0);
    badChannel4.push_back(4);
    Bytes registerTooMany{0x00, 0x03, 0x01, 0x01, 65};
    Bytes registerCut{0x00, 0x23, 0x01, 0x01, 2};
    registerCut.resize(2 + 0x23, 0x22);
    const std::pair<Bytes, E::Case> rows[] = {
        {{0x00, 0x00}, E::tooLarge},
        {{0x10, 0x01}, E::tooLarge},
        {{0x00, 0x02, 0x03, 0x00}, E::malformed},
        {{0x00, 0x02, 0x02, 0x00}, E::malformed},
        {badChannel0, E::malformed},
        {badChannel4, E::malformed},
        {registerTooMany, E::tooLarge},
        {registerCut, E::malformed},
        {{0x00, 0x03, 0x06, 0x01, 0x00}, E::malformed},
        {{0x00, 0x02, 0x06, 0x01}, E::malformed},
        {{0x00, 0x03, 0x06, 0x00, 0x00}, E::malformed},
        {{0x00, 0x02, 0x06, 0x09}, E::tooLarge},
    };
    for (const auto& [buffer, expected] : rows)
        EXPECT_EQ(problemOf<ConnectWireError>([&] { ControlMessage::decode(buffer); }), expected) << buffer.size();
}

TEST(ControlMessage, EncodesKnownBytesAndRoundTrips) {
    EXPECT_EQ(ControlMessage(ControlMessage::Ping{}).encoded(), (Bytes{0x00, 0x01, 0x03}));
    EXPECT_EQ(ControlMessage(ControlMessage::Pong{}).encoded(), (Bytes{0x00, 0x01, 0x04}));
    EXPECT_EQ(ControlMessage(ControlMessage::Refused{7}).encoded(), (Bytes{0x00, 0x02, 0x05, 0x07}));
    EXPECT_EQ(ControlMessage(ControlMessage::Register{}).encoded(), (Bytes{0x00, 0x03, 0x01, 0x01, 0x00}));

    const std::vector<Bytes> sixtyFour(64, filled(32, 0x5A));
    const ControlMessage messages[] = {
        ControlMessage::Register{1, sixtyFour},
        ControlMessage::Incoming{filled(16, 1), filled(32, 2), ConnectChannel::lookup},
        ControlMessage::Candidates{{"[2001:db8::1]:55801", "203.0.113.9:4000"}},
        ControlMessage::Unknown{200},
    };
    Bytes stream;
    for (const ControlMessage& message : messages) {
        const Bytes frame = message.encoded();
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    for (const ControlMessage& message : messages) {
        const auto decoded = ControlMessage::decode(stream);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->value, message);
        stream.erase(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(decoded->length));
    }
    EXPECT_TRUE(stream.empty());
}

TEST(ControlMessage, RefusesToEncodeWrongIdentifiers) {
    const ControlMessage rows[] = {
        ControlMessage::Register{1, std::vector<Bytes>(65, filled(32, 0))},
        ControlMessage::Register{1, {filled(31, 0)}},
        ControlMessage::Incoming{filled(15, 1), filled(32, 2), ConnectChannel::media},
        ControlMessage::Incoming{filled(16, 1), filled(33, 2), ConnectChannel::media},
        ControlMessage::Candidates{{""}},
    };
    for (const ControlMessage& message : rows) {
        EXPECT_EQ(problemOf<ConnectWireError>([&] { message.encoded(); }), ConnectWireError::malformed);
    }
}

} // namespace
