#pragma once

#include "core/Bytes.h"
#include "net/portmap/DatagramExchange.h"
#include "net/portmap/HttpClient.h"
#include "net/portmap/PortAttemptResult.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace TessaloyNet {

// The client side of a UPnP internet gateway device: finds it by SSDP, reads its description, and
// asks its WAN connection service by SOAP to forward the listener's TCP port, to say its public
// address, and to delete the forwarding again. Plain text searches stand in for an XML parser.
class UpnpClient {
public:
    struct ControlPoint {
        std::string url; // absolute
        std::string service;
        friend bool operator==(const ControlPoint&, const ControlPoint&) = default;
    };
    using Arguments = std::vector<std::pair<std::string, std::string>>;

    UpnpClient(std::uint16_t internalPort, DatagramExchange& exchange, HttpClient& http);

    // Nothing when no device answered, it could not be used, or it refused the mapping; otherwise the
    // outcome with the lease just made. Blocks its caller.
    std::optional<PortAttemptResult> request();
    // Deletes the mapping of `externalPort`; the answer is not looked at. Blocks its caller.
    void release(const PortLease::Upnp& endpoint, std::uint16_t externalPort);

    static const std::string& searchDatagram();
    // The description URL from an SSDP reply's location header.
    static std::optional<std::string> parseLocation(const TessaloyCore::Bytes& reply);
    // The first WAN connection service of the preferred kind, its control URL made absolute.
    static std::optional<ControlPoint> findControlURL(std::string_view description, const std::string& location);
    // This host's own IPv4 address toward a dotted IPv4 host; sends nothing.
    static std::optional<std::string> localAddress(const std::string& host);
    // Values go in as they stand, without escaping.
    static std::string soapEnvelope(const std::string& service, const std::string& action, const Arguments& arguments);
    // The trimmed text of the first <tag>…</tag>; namespace prefixes are not understood.
    static std::optional<std::string> xmlValue(std::string_view tag, std::string_view text);

private:
    // The reply body of a status 200, or nothing.
    std::optional<std::string> postSOAP(const ControlPoint& control, const std::string& action,
                                        const std::string& body);

    const std::uint16_t internalPort_;
    DatagramExchange& exchange_;
    HttpClient& http_;
};

} // namespace TessaloyNet
