#pragma once

#include <asio/ip/address.hpp>

#include <map>
#include <optional>
#include <string>

namespace TessaloyNet {

struct HandshakeAdmissionLimits {
    int total = 16;
    int perHost = 4;
};

// Admission control for connections that have not yet authenticated and declared their role: at
// most `total` at once, and at most `perHost` from one remote address. Connections from this
// machine's own loopback addresses (127.0.0.1, ::1) count one by one, as if each came from a host of
// its own: relayed and VPN-relayed calls all arrive through bridges there. A plain value of the
// listener's queue.
class HandshakeAdmission {
public:
    using Limits = HandshakeAdmissionLimits;
    // The remote host a connection counts against; nothing for one counted on its own.
    using Host = std::optional<std::string>;

    explicit HandshakeAdmission(Limits limits) : limits_(limits) {}

    static Host hostOf(const asio::ip::address& remote);

    // Counts one more pending handshake from `host`, or returns false, counting nothing, when that
    // would exceed a limit.
    bool admit(const Host& host);
    // The handshake from `host` ended, either way.
    void release(const Host& host);

    int pending() const noexcept { return pending_; }

private:
    Limits limits_;
    int pending_ = 0;
    std::map<std::string, int> perHost_;
};

} // namespace TessaloyNet
