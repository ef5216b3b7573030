#pragma once

#include <cstdint>
#include <functional>
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
        friend bool operator==(const State&, const State&) = default;
    };

    virtual ~RouterPort() = default;
    virtual State state() const = 0;
    // Asks the router to forward `port` while `wanted`; otherwise stops asking and releases what the
    // router holds.
    virtual void update(bool wanted, std::uint16_t port) = 0;
    // The network changed: asks again now, if asking at all.
    virtual void refresh() = 0;

    // The router status line: nothing while idle.
    static std::optional<std::string> statusText(const State& state);

    // Told after each change of `state()`, on the main actor.
    std::function<void()> onChange;
};

} // namespace Plovander
