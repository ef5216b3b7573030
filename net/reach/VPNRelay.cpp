#include "net/reach/VPNRelay.h"

#include "base/Hop.h"
#include "base/OpenFiles.h"

#include <asio/strand.hpp>

#include <algorithm>
#include <set>
#include <utility>

namespace TessaloyNet {

using asio::ip::tcp;
using TessaloyBase::hop;

std::shared_ptr<VPNRelay> VPNRelay::create(std::uint16_t port, std::uint16_t target, AddressFinder findAddresses,
                                           std::shared_ptr<TessaloyBase::QueueClock> clock) {
    if (!clock) clock = TessaloyBase::sharedSteadyQueueClock();
    return std::shared_ptr<VPNRelay>(new VPNRelay(port, target, std::move(findAddresses), std::move(clock)));
}

VPNRelay::VPNRelay(std::uint16_t port, std::uint16_t target, AddressFinder findAddresses,
                   std::shared_ptr<TessaloyBase::QueueClock> clock)
    : port_(port), target_(target), findAddresses_(std::move(findAddresses)), clock_(std::move(clock)) {}

void VPNRelay::setBridgeSource(LoopbackBridge::BridgeSource bridgeSource) {
    queue_.async(hop(*this, [bridgeSource = std::move(bridgeSource)](VPNRelay& relay) mutable {
        relay.bridgeSource_ = std::move(bridgeSource);
    }));
}

void VPNRelay::start() {
    queue_.async(hop(*this, [](VPNRelay& relay) {
        relay.applyAddresses();
        if (!relay.rescanning_) relay.scheduleRescan();
    }));
}

void VPNRelay::stop() {
    queue_.async(hop(*this, [](VPNRelay& relay) {
        relay.rescan_.cancel();
        relay.rescanning_ = false;
        relay.listeners_.clear();
    }));
}

std::vector<std::string> VPNRelay::listeningAddresses() {
    // A map's keys come sorted.
    return queue_.sync([this] {
        std::vector<std::string> addresses;
        for (const auto& [address, acceptor] : listeners_) addresses.push_back(address);
        return addresses;
    });
}

void VPNRelay::scheduleRescan() {
    rescanning_ = true;
    rescan_ = clock_->after(queue_, rescanPeriod, hop(*this, [](VPNRelay& relay) {
                                relay.applyAddresses();
                                relay.scheduleRescan();
                            }));
}

void VPNRelay::applyAddresses() {
    queue_.assertCurrent();
    const std::vector<std::string> found = findAddresses_ ? findAddresses_() : std::vector<std::string>();
    const std::set<std::string> wanted(found.begin(), found.end());
    std::erase_if(listeners_, [&](const auto& entry) { return !wanted.contains(entry.first); });
    for (const std::string& address : wanted) {
        if (listeners_.contains(address)) continue;
        // An address that cannot be listened on now is tried again at the next rescan.
        if (auto acceptor = listen(address)) {
            listeners_.emplace(address, acceptor);
            acceptNext(address, acceptor);
        }
    }
}

std::shared_ptr<VPNRelay::Acceptor> VPNRelay::listen(const std::string& address) const {
    std::error_code error;
    const auto ip = asio::ip::make_address(address, error);
    if (error) return nullptr;
    const tcp::endpoint endpoint(ip, port_);
    auto acceptor = std::make_shared<Acceptor>(queue_.executor());
    acceptor->open(endpoint.protocol(), error);
    if (!error) acceptor->set_option(Acceptor::reuse_address(true), error);
    if (!error) acceptor->bind(endpoint, error);
    if (!error) acceptor->listen(backlog, error);
    if (error) return nullptr;
    return acceptor;
}

void VPNRelay::acceptNext(const std::string& address, const std::shared_ptr<Acceptor>& acceptor) {
    // Each relayed connection copies on a queue of its own. The listener is held by `listeners_`
    // alone, so dropping it there closes it.
    acceptor->async_accept(asio::make_strand(TessaloyBase::sharedIoContext()),
                           hop(*this, [address, from = std::weak_ptr<Acceptor>(acceptor)](
                                          VPNRelay& relay, std::error_code error, tcp::socket socket) {
                               if (error != asio::error::operation_aborted)
                                   relay.accepted(address, from.lock(), error, std::move(socket));
                           }));
}

void VPNRelay::accepted(const std::string& address, const std::shared_ptr<Acceptor>& acceptor, std::error_code error,
                        tcp::socket socket) {
    queue_.assertCurrent();
    const auto current = listeners_.find(address);
    if (!acceptor || current == listeners_.end() || current->second != acceptor) return;
    if (error) {
        // Dropped now and listened on again at the next rescan, rather than failing in a loop.
        listeners_.erase(current);
        return;
    }
    std::error_code peerError;
    const tcp::endpoint remote = socket.remote_endpoint(peerError);
    const std::string peer = peerError ? std::string() : remote.address().to_string();
    const auto count = perPeer_.find(peer);
    const int fromPeer = count == perPeer_.end() ? 0 : count->second;
    // The bridge's connection to the listener and the listener's end of it come on top.
    if (total_ >= maximumConnections || fromPeer >= maximumPerPeer || !TessaloyBase::OpenFiles::spare(2)) {
        std::error_code ignored;
        socket.close(ignored);
    } else {
        ++total_;
        ++perPeer_[peer];
        relay(std::move(socket), peer);
    }
    acceptNext(address, acceptor);
}

void VPNRelay::relay(tcp::socket socket, const std::string& peer) {
    const std::error_code noSocket = LoopbackBridge::open(
        std::move(socket), target_, bridgeSource_, [weak = weak_from_this(), peer](std::error_code) {
            if (const auto self = weak.lock())
                self->queue_.async(hop(*self, [peer](VPNRelay& relay) { relay.countDown(peer); }));
        });
    if (noSocket) countDown(peer);
}

void VPNRelay::countDown(const std::string& peer) {
    total_ = std::max(total_ - 1, 0);
    const auto count = perPeer_.find(peer);
    if (count == perPeer_.end()) return;
    if (--count->second <= 0) perPeer_.erase(count);
}

} // namespace TessaloyNet
