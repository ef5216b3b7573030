#include "net/channel/HostListener.h"

namespace TessaloyNet {
namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }
std::string optionalText(const std::optional<std::string>& text) { return text ? quoted(*text) : "nil"; }

struct Describe {
    using Event = HostListener::Event;
    std::string operator()(const Event::Advertising& event) const {
        return "advertising(port: " + std::to_string(event.port) + ")";
    }
    std::string operator()(const Event::Attempting&) const { return "attempting"; }
    std::string operator()(const Event::Authenticated& event) const {
        return "authenticated(peerName: " + quoted(event.peerName) + ", role: " + TessaloyCore::nameOf(event.role) +
               ")";
    }
    std::string operator()(const Event::Rejected& event) const {
        return "rejected(reason: " + quoted(event.reason) + ")";
    }
    std::string operator()(const Event::Received& event) const {
        return std::string("received(kind: ") + TessaloyCore::nameOf(event.packet.kind()) +
               ", role: " + TessaloyCore::nameOf(event.role) +
               ", bytes: " + std::to_string(event.packet.payload().size()) + ")";
    }
    std::string operator()(const Event::PeerDisconnected& event) const {
        return "peerDisconnected(error: " + optionalText(event.error) + ")";
    }
    std::string operator()(const Event::Stopped& event) const {
        return "stopped(error: " + optionalText(event.error) + ")";
    }
    std::string operator()(const Event::DiscoveryUnavailable& event) const {
        return "discoveryUnavailable(reason: " + quoted(event.reason) + ")";
    }
};

} // namespace

std::string HostListener::Event::traceDescription() const { return std::visit(Describe{}, value); }

} // namespace TessaloyNet
