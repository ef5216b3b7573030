#pragma once

#include "base/MainActor.h"
#include "base/QueueClock.h"
#include "base/SerialQueue.h"
#include "net/relay/LoopbackBridge.h"

#include <asio/ip/tcp.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace TessaloyNet {

// Lets a paired device on the same VPN as this computer reach it through the VPN: listens with
// plain TCP on this computer's VPN addresses and carries every accepted connection, byte for byte,
// to the listener on loopback. The device's TLS runs inside; the relay neither reads nor changes it.
//
// The addresses are read again every `rescanPeriod`, so a tunnel that comes up gets a listener and
// one that goes away loses it. At most `maximumConnections` relayed connections are open at once,
// and at most `maximumPerPeer` from one peer address, and none that would eat into the program's
// reserve of descriptors (OpenFiles); the listener sees them all come from loopback, so each one is
// exempted from its per-host admission through the bridge source.
//
// Threading: the listeners and counters live on the queue "dev.tessaloy.vpn-relay"; each relayed
// connection copies on a queue of its own. Every method is safe from any thread.
class VPNRelay : public std::enable_shared_from_this<VPNRelay> {
public:
    static constexpr const char* queueLabel = "dev.tessaloy.vpn-relay";
    static constexpr std::uint16_t defaultPort = 55802;
    static constexpr TessaloyBase::QueueClock::Duration rescanPeriod{15.0};
    static constexpr int backlog = 16;
    static constexpr int maximumConnections = 8;
    static constexpr int maximumPerPeer = 2;

    // The numeric addresses to listen on; called on the relay's queue.
    using AddressFinder = std::function<std::vector<std::string>()>;

    // Listens on `port` once started and carries connections to the loopback port `target`.
    static std::shared_ptr<VPNRelay> create(std::uint16_t port, std::uint16_t target, AddressFinder findAddresses,
                                            std::shared_ptr<TessaloyBase::QueueClock> clock = nullptr);
    VPNRelay(const VPNRelay&) = delete;
    VPNRelay& operator=(const VPNRelay&) = delete;

    // Where connections accepted from now on tell the loopback address they come from.
    void setBridgeSource(LoopbackBridge::BridgeSource bridgeSource);
    // Listens on the current addresses and rescans from then on. Returns at once.
    void start();
    // Stops rescanning and closes every listener; connections being relayed go on until they end.
    // Returns at once.
    void stop();
    // The addresses listened on, sorted as text. Waits for the relay's queue.
    std::vector<std::string> listeningAddresses();

private:
    using Acceptor = asio::ip::tcp::acceptor;

    VPNRelay(std::uint16_t port, std::uint16_t target, AddressFinder findAddresses,
             std::shared_ptr<TessaloyBase::QueueClock> clock);

    // The rest runs on the queue.
    void applyAddresses();
    void scheduleRescan();
    std::shared_ptr<Acceptor> listen(const std::string& address) const;
    void acceptNext(const std::string& address, const std::shared_ptr<Acceptor>& acceptor);
    void accepted(const std::string& address, const std::shared_ptr<Acceptor>& acceptor, std::error_code error,
                  asio::ip::tcp::socket socket);
    void relay(asio::ip::tcp::socket socket, const std::string& peer);
    void countDown(const std::string& peer);

    const std::uint16_t port_;
    const std::uint16_t target_;
    const AddressFinder findAddresses_;
    const std::shared_ptr<TessaloyBase::QueueClock> clock_;
    TessaloyBase::SerialQueue queue_{queueLabel};

    // Queue only.
    LoopbackBridge::BridgeSource bridgeSource_;
    std::map<std::string, std::shared_ptr<Acceptor>> listeners_;
    bool rescanning_ = false;
    TessaloyBase::ScheduledCall rescan_;
    std::map<std::string, int> perPeer_;
    int total_ = 0;
};

} // namespace TessaloyNet
