// Throughput of TlsPacketChannel over loopback TLS 1.3, next to plain OpenSSL (SSL_write and
// SSL_read on blocking loopback sockets, same keys and cipher), for 2 MiB and 64 KiB packets; and
// the time to a ready channel on both ends in pairing mode (PBKDF2 included) and in trusted mode.
#include "base/Keychain.h"
#include "base/SerialQueue.h"
#include "core/WirePacket.h"
#include "net/channel/DeviceIdentity.h"
#include "net/channel/LANTransport.h"
#include "net/channel/PairedDeviceStore.h"
#include "net/channel/PairingKeys.h"
#include "net/channel/TlsPacketChannel.h"

#include <benchmark/benchmark.h>
#include <openssl/ssl.h>
#include <asio/ip/tcp.hpp>

#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <thread>

using namespace TessaloyNet;
using TessaloyCore::Bytes;
using TessaloyCore::WirePacket;

namespace {

constexpr std::size_t bytesPerIteration = 256 << 20;

const Bytes& salt() {
    static const Bytes bytes(16, 0x42);
    return bytes;
}
const PairingKeys& keys() {
    static const PairingKeys derived = PairingKeys::derive(*PairingCode::parse("ABCD-EFGH"), salt());
    return derived;
}

// Both ends ready, or the error of the one that failed.
struct Joined {
    std::shared_ptr<TlsPacketChannel> client;
    std::shared_ptr<TlsPacketChannel> server;
};

// A channel pair joined over loopback; `onServerPacket` runs on the server's queue.
Joined join(const TlsParameters& server, const TlsParameters& client,
            std::function<void(WirePacket)> onServerPacket = nullptr) {
    asio::ip::tcp::acceptor acceptor(TessaloyBase::sharedIoContext(),
                                     asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    auto clientReady = std::make_shared<std::promise<void>>();
    auto serverReady = std::make_shared<std::promise<void>>();
    TlsPacketChannel::Options options;
    options.readTimeout = std::chrono::minutes(10);
    // The receive budget (240 packets a second) guards the Mac against a device; here it would only
    // cap the measurement.
    options.receiveBudget = {.packetsPerSecond = 1e9, .burstPackets = 1e9};
    Joined joined;
    joined.client = TlsPacketChannel::connecting(acceptor.local_endpoint(), client, options);
    joined.client->setEvents(
        {.ready = [clientReady] { clientReady->set_value(); }, .packet = nullptr, .closed = nullptr});
    joined.client->start();
    joined.server = TlsPacketChannel::accepted(acceptor.accept(), server, options);
    joined.server->setEvents(
        {.ready = [serverReady] { serverReady->set_value(); }, .packet = std::move(onServerPacket), .closed = nullptr});
    joined.server->start();
    clientReady->get_future().wait();
    serverReady->get_future().wait();
    return joined;
}

void BM_PacketChannel(benchmark::State& state) {
    const std::size_t payloadBytes = static_cast<std::size_t>(state.range(0));
    const std::size_t count = bytesPerIteration / payloadBytes;
    std::atomic<std::size_t> received = 0;
    std::promise<void>* allReceived = nullptr;
    std::mutex lock;
    const auto server = LANTransport::pairingServerParameters(keys(), "Mac", nullptr);
    const auto client = LANTransport::pairingClientParameters(keys(), "Phone");
    Joined joined = join(server, client, [&](WirePacket) {
        if (++received == count) {
            std::lock_guard guard(lock);
            allReceived->set_value();
        }
    });
    for (auto _ : state) {
        state.PauseTiming();
        auto packets = std::make_shared<std::vector<WirePacket>>();
        packets->reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            packets->emplace_back(WirePacket::Kind::videoFrame, Bytes(payloadBytes, 7));
        std::promise<void> done;
        {
            std::lock_guard guard(lock);
            allReceived = &done;
        }
        received = 0;
        state.ResumeTiming();
        joined.client->setPacketSource([packets, next = std::size_t(0)]() mutable -> std::optional<WirePacket> {
            if (next == packets->size()) return std::nullopt;
            return std::move((*packets)[next++]);
        });
        done.get_future().wait();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * count * payloadBytes));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
    joined.client->close();
    joined.server->close();
}
BENCHMARK(BM_PacketChannel)->Arg(2 << 20)->Arg(64 << 10)->Unit(benchmark::kMillisecond)->UseRealTime();

// Plain OpenSSL on blocking sockets: the same contexts, hence the same keys and cipher.
void BM_RawOpenSsl(benchmark::State& state) {
    const std::size_t payloadBytes = static_cast<std::size_t>(state.range(0));
    const std::size_t count = bytesPerIteration / payloadBytes;
    const auto serverParameters = LANTransport::pairingServerParameters(keys(), "Mac", nullptr);
    const auto clientParameters = LANTransport::pairingClientParameters(keys(), "Phone");
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    asio::ip::tcp::socket clientSocket(io);
    clientSocket.connect(acceptor.local_endpoint());
    asio::ip::tcp::socket serverSocket = acceptor.accept();
    clientSocket.set_option(asio::ip::tcp::no_delay(true));
    serverSocket.set_option(asio::ip::tcp::no_delay(true));
    SSL* client = SSL_new(clientParameters.context().native_handle());
    SSL* server = SSL_new(serverParameters.context().native_handle());
    SSL_set_fd(client, clientSocket.native_handle());
    SSL_set_fd(server, serverSocket.native_handle());
    std::thread accepting([&] { SSL_accept(server); });
    if (SSL_connect(client) != 1) state.SkipWithError("handshake failed");
    accepting.join();
    state.SetLabel(SSL_get_cipher_name(client));
    const Bytes header(WirePacket::headerSize, 1);
    const Bytes payload(payloadBytes, 7);
    Bytes sink(payloadBytes + WirePacket::headerSize);
    for (auto _ : state) {
        std::thread reading([&] {
            std::size_t left = count * (payloadBytes + WirePacket::headerSize);
            while (left > 0) {
                const int n = SSL_read(server, sink.data(), static_cast<int>(std::min(left, sink.size())));
                if (n <= 0) break;
                left -= static_cast<std::size_t>(n);
            }
        });
        for (std::size_t i = 0; i < count; ++i) {
            SSL_write(client, header.data(), static_cast<int>(header.size()));
            SSL_write(client, payload.data(), static_cast<int>(payload.size()));
        }
        reading.join();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * count * payloadBytes));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
    SSL_free(client);
    SSL_free(server);
}
BENCHMARK(BM_RawOpenSsl)->Arg(2 << 20)->Arg(64 << 10)->Unit(benchmark::kMillisecond)->UseRealTime();

// Both ends derive their keys (one PBKDF2 each, concurrently on two machines in real life: one on
// the critical path here), then connect until both channels are ready.
void BM_PairingHandshake(benchmark::State& state) {
    const auto code = *PairingCode::parse("ABCD-EFGH");
    for (auto _ : state) {
        const PairingKeys derived = PairingKeys::derive(code, salt());
        Joined joined = join(LANTransport::pairingServerParameters(derived, "Mac", nullptr),
                             LANTransport::pairingClientParameters(derived, "Phone"));
        state.PauseTiming();
        joined.client->close();
        joined.server->close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PairingHandshake)->Unit(benchmark::kMillisecond)->UseRealTime();

class NoKeychain final : public TessaloyBase::Keychain {
public:
    std::optional<Bytes> read(std::string_view, std::string_view) const override { return item; }
    void write(std::string_view, std::string_view, const Bytes& data) override { item = data; }
    bool remove(std::string_view, std::string_view) override { return false; }
    std::optional<Bytes> item;
};

void BM_TrustedHandshake(benchmark::State& state) {
    NoKeychain keychain;
    const auto store = std::make_shared<PairedDeviceStore>(keychain);
    const DeviceIdentity mac(P256PrivateKey::generate());
    const DeviceIdentity phone(P256PrivateKey::generate());
    store->add({phone.publicKey(), "Phone", std::chrono::system_clock::now(), std::nullopt});
    const auto server = LANTransport::trustedServerParameters(mac, "Mac", store);
    const auto client = LANTransport::trustedClientParameters(phone, "Phone", mac.publicKey());
    for (auto _ : state) {
        Joined joined = join(server, client);
        state.PauseTiming();
        joined.client->close();
        joined.server->close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_TrustedHandshake)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
