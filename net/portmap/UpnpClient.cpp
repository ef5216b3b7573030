#include "net/portmap/UpnpClient.h"

#include "net/portmap/AddressKind.h"

#include <curl/curl.h>
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>

#include <algorithm>
#include <cctype>
#include <memory>

namespace TessaloyNet {
namespace {

using TessaloyCore::Bytes;

const char* const serviceTypes[] = {
    "urn:schemas-upnp-org:service:WANIPConnection:2",
    "urn:schemas-upnp-org:service:WANIPConnection:1",
    "urn:schemas-upnp-org:service:WANPPPConnection:1",
};
constexpr std::chrono::seconds soapTimeout{5};

std::string_view trimmed(std::string_view text, std::string_view blanks) {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// `reference` read against `base` (empty for an absolute one), in full; nothing when it is no URL.
std::optional<std::string> urlPart(const std::string& base, const std::string& reference, CURLUPart part) {
    std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url) return std::nullopt;
    if (!base.empty() && curl_url_set(url.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK) return std::nullopt;
    if (curl_url_set(url.get(), CURLUPART_URL, reference.c_str(), 0) != CURLUE_OK) return std::nullopt;
    char* text = nullptr;
    if (curl_url_get(url.get(), part, &text, 0) != CURLUE_OK) return std::nullopt;
    std::string result(text);
    curl_free(text);
    return result;
}

} // namespace

UpnpClient::UpnpClient(std::uint16_t internalPort, DatagramExchange& exchange, HttpClient& http)
    : internalPort_(internalPort), exchange_(exchange), http_(http) {}

std::optional<PortAttemptResult> UpnpClient::request() {
    const std::string search = searchDatagram();
    const auto reply = exchange_.search(Bytes(search.begin(), search.end()), "239.255.255.250", 1900, 2);
    if (!reply) return std::nullopt;
    const auto location = parseLocation(*reply);
    if (!location) return std::nullopt;
    const auto description = http_.get(*location);
    if (!description) return std::nullopt;
    const auto control = findControlURL(description->body, *location);
    if (!control) return std::nullopt;
    const auto ownAddress = localAddress(urlPart("", *location, CURLUPART_HOST).value_or(""));
    if (!ownAddress) return std::nullopt;

    const std::string port = std::to_string(internalPort_);
    const Arguments mapping{{"NewRemoteHost", ""},
                            {"NewExternalPort", port},
                            {"NewProtocol", "TCP"},
                            {"NewInternalPort", port},
                            {"NewInternalClient", *ownAddress},
                            {"NewEnabled", "1"},
                            {"NewPortMappingDescription", "Plovander"},
                            {"NewLeaseDuration", "3600"}};
    if (!postSOAP(*control, "AddPortMapping", soapEnvelope(control->service, "AddPortMapping", mapping))) {
        return std::nullopt;
    }
    PortLease lease{PortLease::Upnp{control->url, control->service}, internalPort_};

    const auto answer =
        postSOAP(*control, "GetExternalIPAddress", soapEnvelope(control->service, "GetExternalIPAddress", {}));
    const auto address = answer ? xmlValue("NewExternalIPAddress", *answer) : std::nullopt;
    if (!address) return PortAttemptResult::failure(PortMappingReason::silentAddress, std::move(lease));
    if (!AddressKind::isPublicIPv4(*address)) {
        return PortAttemptResult::failure(PortMappingReason::sharedAddress, std::move(lease));
    }
    return PortAttemptResult{PortMapping{*address, internalPort_, "UPnP"}, std::move(lease)};
}

void UpnpClient::release(const PortLease::Upnp& endpoint, std::uint16_t externalPort) {
    const Arguments deletion{
        {"NewRemoteHost", ""}, {"NewExternalPort", std::to_string(externalPort)}, {"NewProtocol", "TCP"}};
    (void)postSOAP({endpoint.url, endpoint.service}, "DeletePortMapping",
                   soapEnvelope(endpoint.service, "DeletePortMapping", deletion));
}

const std::string& UpnpClient::searchDatagram() {
    static const std::string text =
        "M-SEARCH * HTTP/1.1\r\n"
        "HOST: 239.255.255.250:1900\r\n"
        "MAN: \"ssdp:discover\"\r\n"
        "MX: 2\r\n"
        "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
        "\r\n";
    return text;
}

std::optional<std::string> UpnpClient::parseLocation(const Bytes& reply) {
    const std::string text(reply.begin(), reply.end());
    for (std::size_t start = 0; start <= text.size();) {
        const auto end = std::min(text.find("\r\n", start), text.size());
        std::string line = text.substr(start, end - start);
        start = end + 2;
        std::string lower = line;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        if (lower.rfind("location:", 0) != 0) continue;
        return urlPart("", std::string(trimmed(std::string_view(line).substr(9), " \t")), CURLUPART_URL);
    }
    return std::nullopt;
}

std::optional<UpnpClient::ControlPoint> UpnpClient::findControlURL(std::string_view description,
                                                                   const std::string& location) {
    for (const char* service : serviceTypes) {
        const std::string marker = std::string("<serviceType>") + service + "</serviceType>";
        const auto found = description.find(marker);
        if (found == std::string_view::npos) continue;
        std::string_view block = description.substr(found + marker.size());
        block = block.substr(0, block.find("</service>"));
        const auto open = block.find("<controlURL>");
        if (open == std::string_view::npos) continue;
        const auto close = block.find("</controlURL>", open);
        if (close == std::string_view::npos) continue;
        const std::string_view path = trimmed(block.substr(open + 12, close - open - 12), " \t\r\n");
        if (auto url = urlPart(location, std::string(path), CURLUPART_URL)) return ControlPoint{*url, service};
    }
    return std::nullopt;
}

std::optional<std::string> UpnpClient::localAddress(const std::string& host) {
    std::error_code error;
    const auto address = asio::ip::make_address_v4(host, error);
    if (error) return std::nullopt;
    asio::io_context context;
    asio::ip::udp::socket socket(context);
    socket.open(asio::ip::udp::v4(), error);
    if (!error) socket.connect({address, 9}, error);
    if (error) return std::nullopt;
    const auto local = socket.local_endpoint(error);
    if (error) return std::nullopt;
    return local.address().to_string();
}

std::string UpnpClient::soapEnvelope(const std::string& service, const std::string& action,
                                     const Arguments& arguments) {
    std::string body =
        "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
    body += "<u:" + action + " xmlns:u=\"" + service + "\">";
    for (const auto& [name, value] : arguments) body += "<" + name + ">" + value + "</" + name + ">";
    return body + "</u:" + action + "></s:Body></s:Envelope>";
}

std::optional<std::string> UpnpClient::xmlValue(std::string_view tag, std::string_view text) {
    const std::string open = std::string("<").append(tag).append(">");
    const auto start = text.find(open);
    if (start == std::string_view::npos) return std::nullopt;
    const auto end = text.find(std::string("</").append(tag).append(">"), start + open.size());
    if (end == std::string_view::npos) return std::nullopt;
    return std::string(trimmed(text.substr(start + open.size(), end - start - open.size()), " \t\r\n"));
}

std::optional<std::string> UpnpClient::postSOAP(const ControlPoint& control, const std::string& action,
                                                const std::string& body) {
    const std::vector<std::string> headers{"Content-Type: text/xml; charset=\"utf-8\"",
                                           "SOAPAction: \"" + control.service + "#" + action + "\""};
    auto reply = http_.post(control.url, headers, body, soapTimeout);
    if (!reply || reply->status != 200) return std::nullopt;
    return std::move(reply->body);
}

} // namespace TessaloyNet
