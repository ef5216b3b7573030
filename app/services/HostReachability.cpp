#include "app/services/HostReachability.h"

#include "app/services/LocalInterfaces.h"

#include <utility>

namespace Plovander {

HostReachability::HostReachability(ConnectRegistration::Collaborators registration,
                                   const Platform::Interfaces& interfaces, std::uint16_t listenPort,
                                   std::shared_ptr<TessaloyBase::QueueClock> clock)
    : bridgeSource_(registration.bridgeSource),
      interfaces_(interfaces),
      listenPort_(listenPort),
      clock_(std::move(clock)),
      registration_(std::move(registration)) {}

HostReachability::~HostReachability() {
    if (vpnRelay_) vpnRelay_->stop();
}

void HostReachability::updateVPNRelay(bool wanted) {
    if (wanted) {
        if (!vpnRelay_) {
            const Platform::Interfaces& interfaces = interfaces_;
            vpnRelay_ = TessaloyNet::VPNRelay::create(
                TessaloyNet::VPNRelay::defaultPort, listenPort_, [&interfaces] { return tunnelAddresses(interfaces); },
                clock_);
            vpnRelay_->setBridgeSource(bridgeSource_());
        }
    }
    if (wanted == vpnRelayRuns_) return;
    vpnRelayRuns_ = wanted;
    if (wanted) {
        vpnRelay_->start();
    } else {
        vpnRelay_->stop();
    }
}

void HostReachability::listenerReplaced() {
    if (vpnRelay_) vpnRelay_->setBridgeSource(bridgeSource_());
}

} // namespace Plovander
