#pragma once

#include <asio/ip/address.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace TessaloyNet {

struct HandshakeAdmissionLimits {
    int total = 16;
    int perHost = 4;
};

// Admission control for connections that have not yet authenticated and declared their role: at
// most `total` at once, and at most `perHost` from one remote host. A newcomer is never turned
// away: when a limit is reached, the oldest pending connection in that scope (the host, or all) is
// closed instead, preferring one that has sent nothing yet. So idle connections, however many,
// cannot keep a device that is actually talking out. A plain value of the listener's queue.
class HandshakeAdmission {
public:
    using Limits = HandshakeAdmissionLimits;
    // What a connection counts against: an IPv4 address, or the /64 prefix of an IPv6 one (a
    // machine may take any address of its /64, and new ones at will).
    using Host = std::string;
    // The caller's name for one connection; later connections have greater tickets.
    using Ticket = std::uint64_t;

    explicit HandshakeAdmission(Limits limits) : limits_(limits) {}

    // IPv4-mapped IPv6 addresses count as the IPv4 address; loopback is a host like any other.
    static Host hostOf(const asio::ip::address& remote);

    // Counts `ticket` as pending from `host`; returns the pending connection to close to make room
    // for it, already forgotten. (Closing one for the host also makes room in all.)
    [[nodiscard]] std::optional<Ticket> admit(Ticket ticket, const Host& host);
    // The connection sent its first bytes: it is no longer the first to go.
    void spoke(Ticket ticket);
    // The handshake of `ticket` ended, either way; nothing for a ticket not pending.
    void release(Ticket ticket);

    int pending() const noexcept { return static_cast<int>(pending_.size()); }

private:
    struct Entry {
        Host host;
        bool spoke = false;
    };

    // The first silent one of those `inScope`, else the first; pending_ is ordered by age.
    template <typename InScope>
    Ticket victim(InScope inScope) const;

    Limits limits_;
    std::map<Ticket, Entry> pending_;
    std::map<Host, int> perHost_;
};

} // namespace TessaloyNet
