#pragma once

#include "net/portmap/PortLease.h"
#include "net/portmap/PortMapping.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace TessaloyNet {

// Why one attempt to map the port failed, in the user's words.
struct PortMappingReason {
    static constexpr const char* noRouter = "No router found.";
    static constexpr const char* noAutomaticForwarding = "The router doesn't offer automatic port forwarding.";
    static constexpr const char* sharedAddress = "The internet provider shares its address (carrier-grade NAT).";
    static constexpr const char* silentAddress = "The router didn't say its public address.";

    std::string message;
    friend bool operator==(const PortMappingReason&, const PortMappingReason&) = default;
};

// The outcome of one attempt, and the lease the router granted on the way. A failure can carry a
// lease (the router mapped the port but its address is unusable); it is released like any other.
struct PortAttemptResult {
    std::variant<PortMapping, PortMappingReason> outcome;
    std::optional<PortLease> lease;
    // Seconds the router granted the lease for; what was asked when the router does not say.
    std::uint32_t lifetime = 3600;

    static PortAttemptResult failure(std::string message, std::optional<PortLease> lease = std::nullopt) {
        return {PortMappingReason{std::move(message)}, std::move(lease)};
    }
    friend bool operator==(const PortAttemptResult&, const PortAttemptResult&) = default;
};

} // namespace TessaloyNet
