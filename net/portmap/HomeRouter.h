#pragma once

#include "net/portmap/DatagramExchange.h"
#include "net/portmap/HttpClient.h"
#include "net/portmap/NatPmpClient.h"
#include "net/portmap/PortMappingRouter.h"
#include "net/portmap/UpnpClient.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace TessaloyNet {

// The user's router: found as the default gateway, asked by NAT-PMP first and by UPnP when NAT-PMP
// gives no answer; an address that is not public makes the mapping useless.
class HomeRouter final : public PortMappingRouter {
public:
    using GatewayLookup = std::function<std::optional<std::string>()>;

    struct Links {
        GatewayLookup gateway;
        std::shared_ptr<DatagramExchange> exchange;
        std::shared_ptr<HttpClient> http;
    };

    // The kernel's default gateway, real UDP and libcurl.
    static Links systemLinks();

    HomeRouter(std::uint16_t internalPort, Links links = systemLinks());

    PortAttemptResult attempt() override;
    void release(const PortLease& lease) override;

private:
    const Links links_;
    NatPmpClient natPmp_;
    UpnpClient upnp_;
};

} // namespace TessaloyNet
