#include "net/channel/TlsPacketChannel.h"

#include "net/channel/DeviceIdentity.h"
#include "net/channel/LANTransport.h"
#include "net/channel/PairedDeviceStore.h"
#include "tests/net/channel/LoopbackChannels.h"
#include "tests/support/MemoryKeychain.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

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

TEST(TlsPacketChannelLoopback, AHandshakeStepQueuedBehindTheCloseLeavesTheDescriptorsNextOwnerAlone) {
    asio::ip::tcp::socket socket(TessaloyBase::sharedIoContext(), asio::ip::tcp::v4());
    const int number = socket.native_handle();
    const auto channel =
        TessaloyNet::TlsPacketChannel::accepted(std::move(socket), {TessaloyNet::TlsParameters::Side::server, nullptr});
    // The connection given that number once the channel has let it go, with its first bytes waiting.
    std::array<int, 2> next{};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, next.data()), 0);
    ASSERT_EQ(::write(next[1], "hello", 5), 5);
    channel->queue().sync([&] {
        // The start runs next and queues the handshake's first step behind the close and the dup2.
        channel->start();
        channel->close();
        channel->queue().async([&] { ::dup2(next[0], number); });
    });
    // The start has run by the end of the first round, and the step it queued by the end of the second.
    for (int round = 0; round < 2; ++round) channel->queue().sync([] {});
    std::array<char, 8> unread{};
    EXPECT_EQ(::recv(next[0], unread.data(), unread.size(), MSG_DONTWAIT), 5);
    for (const int descriptor : {number, next[0], next[1]}) ::close(descriptor);
}

} // namespace
