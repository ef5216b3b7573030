#include "net/portmap/DefaultGateway.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace TessaloyNet {
namespace {

constexpr unsigned long routeUp = 0x1;
constexpr unsigned long routeViaGateway = 0x2;

} // namespace

std::optional<std::string> DefaultGateway::find() {
    std::ifstream file("/proc/net/route");
    if (!file) return std::nullopt;
    std::stringstream text;
    text << file.rdbuf();
    return fromRouteTable(text.str());
}

std::optional<std::string> DefaultGateway::fromRouteTable(std::string_view table) {
    std::istringstream lines{std::string(table)};
    std::string line;
    std::getline(lines, line); // the column names
    std::optional<std::string> best;
    unsigned long bestMetric = std::numeric_limits<unsigned long>::max();
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string interface, destination, gateway, flags, references, use, metric, mask;
        if (!(fields >> interface >> destination >> gateway >> flags >> references >> use >> metric >> mask)) continue;
        try {
            const unsigned long flagBits = std::stoul(flags, nullptr, 16);
            if (std::stoul(destination, nullptr, 16) != 0 || std::stoul(mask, nullptr, 16) != 0) continue;
            if ((flagBits & (routeUp | routeViaGateway)) != (routeUp | routeViaGateway)) continue;
            // The kernel prints the address as the host-order number of its network-order bytes.
            const auto raw = static_cast<std::uint32_t>(std::stoul(gateway, nullptr, 16));
            const unsigned long cost = std::stoul(metric);
            if (raw == 0 || cost >= bestMetric) continue;
            std::array<std::uint8_t, 4> octets{};
            std::memcpy(octets.data(), &raw, octets.size());
            bestMetric = cost;
            best = std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." + std::to_string(octets[2]) + "." +
                   std::to_string(octets[3]);
        } catch (const std::exception&) {
            continue;
        }
    }
    return best;
}

} // namespace TessaloyNet
