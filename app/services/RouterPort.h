#pragma once

#include <optional>
#include <string>

namespace Plovander {

// The router's forwarding of the listener's port, as the port mapper reports it. Main actor.
class RouterPort {
public:
    struct State {
        enum class Kind { idle, mapping, mapped, unavailable };
        Kind kind = Kind::idle;
        std::string method;    // mapped: "NAT-PMP" or "UPnP"
        std::string candidate; // mapped: the router's public address and port, as a candidate text
        std::string reason;    // unavailable: why, for the user
    };

    virtual ~RouterPort() = default;
    virtual State state() const = 0;

    // The router status line: nothing while idle.
    static std::optional<std::string> statusText(const State& state);
};

// Until routers are asked to forward the port: nothing is forwarded.
class RouterPortStandIn final : public RouterPort {
public:
    State state() const override { return {}; }
};

} // namespace Plovander
