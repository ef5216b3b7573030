#include "net/channel/TlsPacketChannel.h"

#include "net/channel/DeviceIdentity.h"
#include "net/channel/LANTransport.h"
#include "net/channel/PairedDeviceStore.h"
#include "tests/net/channel/LoopbackChannels.h"
#include "tests/support/MemoryKeychain.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <mutex>
#include <optional>

namespace {

using TessaloyCore::Bytes;
using TessaloyCore::WirePacket;
using TessaloyNet::DeviceIdentity;
using TessaloyNet::LANTransport;
using TessaloyNet::P256PrivateKey;
using TessaloyNet::PairedDeviceStore;
using Testing::LoopbackChannels;

// Sizes around a TLS record (16 KiB), a packet header split across records, and the largest
// payload: whole records, partial ones and the writes that fill the socket all occur.
constexpr std::array<std::size_t, 10> sizes{
    0, 1, 16'371, 16'372, 16'373, 16'384, 65'536, 100'003, WirePacket::maximumPayloadBytes, 12};

WirePacket numbered(std::size_t index) {
    Bytes payload(sizes[index % sizes.size()]);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(index * 31 + i * 7);
    return WirePacket(WirePacket::Kind::videoFrame, std::move(payload));
}

TEST(TlsPacketChannelLoopback, StreamsBothWaysAtOnceWholeAndInOrder) {
    Testing::MemoryKeychain keychain;
    const auto store = std::make_shared<PairedDeviceStore>(keychain);
    const DeviceIdentity mac(P256PrivateKey::generate());
    const DeviceIdentity phone(P256PrivateKey::generate());
    store->add({phone.publicKey(), "Phone", std::chrono::system_clock::now(), std::nullopt});
    LoopbackChannels pair(LANTransport::trustedServerParameters(mac, "Studio Mac", store),
                          LANTransport::trustedClientParameters(phone, "Phone", mac.publicKey()));
    ASSERT_TRUE(pair.bothReady());

    constexpr std::size_t count = 3 * sizes.size();
    const auto source = [] {
        return [next = std::size_t(0)]() mutable -> std::optional<WirePacket> {
            if (next == count) return std::nullopt;
            return numbered(next++);
        };
    };
    pair.client->setPacketSource(source());
    pair.server->setPacketSource(source());

    for (auto* log : {&pair.serverLog, &pair.clientLog}) {
        ASSERT_TRUE(log->waitUntil([&] { return log->packets.size() == count || log->closedCount > 0; }));
        std::lock_guard guard(log->lock);
        ASSERT_EQ(log->packets.size(), count) << log->closedError.value_or("");
        for (std::size_t i = 0; i < count; ++i) EXPECT_TRUE(log->packets[i] == numbered(i)) << i;
    }
}

} // namespace
