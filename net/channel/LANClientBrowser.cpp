#include "net/channel/LANClientBrowser.h"

#include <algorithm>
#include <charconv>

namespace TessaloyNet {
namespace {

using Problem = LANClientBrowser::DiscoveredHost::AddressProblem;
using AddressError = LANClientBrowser::DiscoveredHost::AddressError;

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::uint16_t portNumber(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 1 || value > 65'535) {
        throw AddressError(Problem::invalidPort);
    }
    return static_cast<std::uint16_t>(value);
}

} // namespace

const char* nameOf(Problem problem) noexcept {
    switch (problem) {
        case Problem::empty:
            return "empty";
        case Problem::invalidPort:
            return "invalidPort";
    }
    return "unknown";
}

const char* descriptionOf(Problem problem) noexcept {
    switch (problem) {
        case Problem::empty:
            return "The computer announced no address.";
        case Problem::invalidPort:
            return "The computer announced an invalid port.";
    }
    return "Something went wrong.";
}

LANClientBrowser::DiscoveredHost::DiscoveredHost(std::string_view address, std::uint16_t defaultPort,
                                                 std::string displayName)
    : port(defaultPort), name(std::move(displayName)) {
    const std::string_view text = trimmed(address);
    if (text.empty()) throw AddressError(Problem::empty);
    std::string_view hostPart = text;
    if (text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos) throw AddressError(Problem::empty);
        hostPart = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') throw AddressError(Problem::invalidPort);
            port = portNumber(rest.substr(1));
        }
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        const auto colon = text.find(':');
        hostPart = text.substr(0, colon);
        port = portNumber(text.substr(colon + 1));
    }
    // More than one colon without brackets: a bare IPv6 address.
    if (hostPart.empty()) throw AddressError(Problem::empty);
    host = std::string(hostPart);
}

} // namespace TessaloyNet
