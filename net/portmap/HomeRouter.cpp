#include "net/portmap/HomeRouter.h"

#include "net/portmap/AddressKind.h"
#include "net/portmap/CurlHttpClient.h"
#include "net/portmap/DefaultGateway.h"
#include "net/portmap/UdpExchange.h"

namespace TessaloyNet {

HomeRouter::Links HomeRouter::systemLinks() {
    return {DefaultGateway::find, std::make_shared<UdpExchange>(), std::make_shared<CurlHttpClient>()};
}

HomeRouter::HomeRouter(std::uint16_t internalPort, Links links)
    : links_(std::move(links)),
      natPmp_(internalPort, *links_.exchange),
      upnp_(internalPort, *links_.exchange, *links_.http) {}

PortAttemptResult HomeRouter::attempt() {
    const auto gateway = links_.gateway();
    if (!gateway) return PortAttemptResult::failure(PortMappingReason::noRouter);
    if (auto grant = natPmp_.request(*gateway)) {
        // A NAT-PMP answer settles it: UPnP would report the same address.
        if (!AddressKind::isPublicIPv4(grant->mapping.externalAddress)) {
            return PortAttemptResult::failure(PortMappingReason::sharedAddress, std::move(grant->lease));
        }
        return PortAttemptResult{std::move(grant->mapping), std::move(grant->lease), grant->lifetime};
    }
    if (auto result = upnp_.request()) return std::move(*result);
    return PortAttemptResult::failure(PortMappingReason::noAutomaticForwarding);
}

void HomeRouter::release(const PortLease& lease) {
    if (const auto* natPmp = std::get_if<PortLease::NatPmp>(&lease.endpoint)) return natPmp_.release(*natPmp);
    upnp_.release(std::get<PortLease::Upnp>(lease.endpoint), lease.externalPort);
}

} // namespace TessaloyNet
