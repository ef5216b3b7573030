#include "connectwire/CandidateList.h"
#include "connectwire/ConnectWireError.h"
#include "connectwire/DataHello.h"
#include "connectwire/SealedHello.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using namespace TessaloyConnectWire;

template <typename Call>
std::optional<ConnectWireError> errorOf(Call&& call) {
    try {
        call();
    } catch (const ConnectWireError& error) {
        return error;
    }
    return std::nullopt;
}

Bytes magicThen(Bytes rest) {
    rest.insert(rest.begin(), {'Z', 'Q', 'K', '1'});
    return rest;
}

TEST(SealedHello, ParsesAsBytesArrive) {
    const SealedHello hello{Bytes(65, 0x04), Bytes(59, 0xC1)};
    Bytes stream = hello.encoded();
    ASSERT_EQ(stream.size(), 8u + 65 + 59);
    stream.push_back(0xEE); // the relayed stream's first byte
    for (std::size_t cut = 1; cut < stream.size() - 1; ++cut) {
        EXPECT_EQ(SealedHello::parse(ByteView(stream).first(cut)), std::nullopt) << cut;
    }
    EXPECT_EQ(SealedHello::parse(stream), (Decoded<SealedHello>{hello, stream.size() - 1}));

    EXPECT_EQ(SealedHello::parse(magicThen({1, 0, 0x41, 0x00})), std::nullopt); // c = 16,640 waits
}

TEST(SealedHello, RefusesBadStarts) {
    using E = ConnectWireError;
    const std::pair<Bytes, ConnectWireError> rows[] = {
        {{'Y'}, E::badMagic},
        {{'Z', 'Q', 'X'}, E::badMagic},
        {magicThen({2}), E::unsupported(2)},
        {magicThen({1, 0, 0x41, 0x01}), E::tooLarge},
    };
    for (const auto& [buffer, expected] : rows) {
        EXPECT_EQ(errorOf([&] { SealedHello::parse(buffer); }), expected);
    }
    EXPECT_EQ(errorOf([] { SealedHello{Bytes(256, 0), {}}.encoded(); }), E::tooLarge);
    EXPECT_EQ(errorOf([] { SealedHello{{}, Bytes(65'536, 0)}.encoded(); }), E::tooLarge);
}

TEST(DataHello, EncodesBothRolesAndRoundTrips) {
    const DataHello mac{ConnectRole::mac, ConnectChannel::control, Bytes(16, 0xA1), 0x0102030405060708,
                        Bytes(16, 0xB2)};
    const Bytes bytes = mac.encoded();
    ASSERT_EQ(bytes.size(), 43u);
    EXPECT_EQ((Bytes(bytes.begin(), bytes.begin() + 3)), (Bytes{1, 2, 2}));
    EXPECT_EQ((Bytes(bytes.begin() + 19, bytes.begin() + 27)), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(DataHello::decode(bytes), mac);

    const DataHello phone{ConnectRole::phone, ConnectChannel::lookup, Bytes(32, 0xC3), 0, Bytes(16, 0)};
    EXPECT_EQ(phone.encoded().size(), 59u);
    EXPECT_EQ(DataHello::decode(phone.encoded()), phone);
}

TEST(DataHello, RefusesOutOfShapeHellos) {
    using E = ConnectWireError;
    DataHello mac{ConnectRole::mac, ConnectChannel::media, Bytes(32, 0), 0, Bytes(16, 0)};
    EXPECT_EQ(errorOf([&] { mac.encoded(); }), E::malformed);
    mac.id.resize(16);
    mac.nonce.resize(15);
    EXPECT_EQ(errorOf([&] { mac.encoded(); }), E::malformed);
    mac.nonce.resize(16);

    const Bytes good = mac.encoded();
    const auto changed = [&](std::size_t index, std::uint8_t byte) {
        Bytes bytes = good;
        bytes[index] = byte;
        return bytes;
    };
    Bytes trailing = good;
    trailing.push_back(0);
    const std::pair<Bytes, ConnectWireError> rows[] = {
        {changed(0, 3), E::unsupported(3)}, {changed(1, 0), E::malformed},
        {changed(1, 3), E::malformed},      {changed(2, 4), E::malformed},
        {trailing, E::malformed},           {Bytes(good.begin(), good.end() - 1), E::malformed},
        {changed(1, 1), E::malformed}, // a phone's hello needs a 32-byte id
    };
    for (const auto& [bytes, expected] : rows) EXPECT_EQ(errorOf([&] { DataHello::decode(bytes); }), expected);
}

TEST(CandidateList, DecodesAndRefuses) {
    using E = ConnectWireError;
    EXPECT_EQ(CandidateList::decode({}), std::nullopt);
    EXPECT_EQ(CandidateList::decode(Bytes{1, 7, '[', ':'}), std::nullopt);
    EXPECT_EQ(CandidateList::decode(Bytes{0}), (Decoded<std::vector<std::string>>{{}, 1}));
    const Bytes one{1, 7, '[', ':', ':', '1', ']', ':', '9', 0xFF};
    EXPECT_EQ(CandidateList::decode(one), (Decoded<std::vector<std::string>>{{"[::1]:9"}, 9}));

    const std::pair<Bytes, ConnectWireError> rows[] = {
        {{9}, E::tooLarge}, {{1, 0}, E::malformed}, {{1, 0x41}, E::malformed}, {{1, 2, 0xC3, 0x28}, E::malformed}};
    for (const auto& [bytes, expected] : rows) EXPECT_EQ(errorOf([&] { CandidateList::decode(bytes); }), expected);

    EXPECT_EQ(errorOf([] { CandidateList::encoded(std::vector<std::string>(9, "a:1")); }), E::tooLarge);
    EXPECT_EQ(errorOf([] { CandidateList::encoded({std::string(65, 'a')}); }), E::malformed);
    const std::vector<std::string> eight(8, std::string(64, 'h'));
    EXPECT_EQ(CandidateList::decode(CandidateList::encoded(eight))->value, eight);
}

} // namespace
