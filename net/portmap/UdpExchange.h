#pragma once

#include "base/QueueClock.h"
#include "base/SerialQueue.h"
#include "net/portmap/DatagramExchange.h"

namespace TessaloyNet {

// The datagram exchange over real UDP sockets. Sockets and waits live on the exchange's own queue;
// the waits run on the given clock, so tests can move them in virtual time.
class UdpExchange final : public DatagramExchange {
public:
    explicit UdpExchange(TessaloyBase::QueueClock& clock = TessaloyBase::steadyQueueClock());

    std::optional<TessaloyCore::Bytes> send(const TessaloyCore::Bytes& request, const std::string& host,
                                            std::uint16_t port, int attempts) override;
    std::optional<TessaloyCore::Bytes> search(const TessaloyCore::Bytes& request, const std::string& host,
                                              std::uint16_t port, int attempts) override;

private:
    std::optional<TessaloyCore::Bytes> exchange(const TessaloyCore::Bytes& request, const std::string& host,
                                                std::uint16_t port, int attempts, bool connected);

    TessaloyBase::QueueClock& clock_;
    TessaloyBase::SerialQueue queue_{"dev.tessaloy.udp-exchange"};
};

} // namespace TessaloyNet
