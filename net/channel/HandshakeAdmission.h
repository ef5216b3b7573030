#pragma once

#include <asio/ip/address.hpp>

#include <cstdint>
#include <list>
#include <map>
#include <optional>
#include <string>

namespace TessaloyNet {

struct HandshakeAdmissionLimits {
    // Handshakes under way: connections that have sent their first bytes. Under a flood of hellos
    // a handshake lasts until the flood has sent as many newer ones as its scope holds, so the
    // limits are the flood a device must still get through, 1,000 hellos a second, times how long
    // its handshake may take: 250 ms, five times a Wi-Fi round trip of 50 ms that its last flight
    // waits on. Per host for a flood from the device's own address (or its /64, the whole LAN on
    // IPv6); twice that in all, so that one host's flood leaves the others alone. Each holds about
    // 80 KiB while it waits, its TLS buffers released (bench/HandshakeFloodBench): 40 MiB at most.
    int total = 500;
    int perHost = 250;
    // Connections that have sent nothing yet. They cost a descriptor and a timer each, and a device
    // that has just connected is one of them until its hello arrives.
    int silentTotal = 64;
    int silentPerHost = 32;
};

// Admission control for connections that have not yet authenticated and declared their role. A
// connection is silent until it sends its first bytes, then its handshake is under way; each kind
// has its own limits, in all and per remote host. A newcomer is never turned away: when a limit is
// reached, the connection of that kind in the scope (the host, or all) that has been quiet longest
// is closed instead: the silent one that connected first, or the handshake whose peer was last heard
// from earliest. So a silent connection only ever makes way for another silent one, and idle
// connections, however many and however fast they come back, cannot end a handshake that is under
// way nor, up to the silent limits, a device that has just connected; and a handshake that goes
// quiet after its hello makes way before one whose peer still answers. A plain value of the
// listener's queue.
class HandshakeAdmission {
public:
    using Limits = HandshakeAdmissionLimits;
    // What a connection counts against: an IPv4 address, or the /64 prefix of an IPv6 one (a
    // machine may take any address of its /64, and new ones at will).
    using Host = std::string;
    // The caller's name for one connection.
    using Ticket = std::uint64_t;

    explicit HandshakeAdmission(Limits limits) : limits_(limits) {}

    // IPv4-mapped IPv6 addresses count as the IPv4 address; loopback is a host like any other.
    static Host hostOf(const asio::ip::address& remote);

    // Counts `ticket` as a silent connection from `host`; returns the connection to close to make
    // room for it, already forgotten. (Closing one for the host also makes room in all.)
    [[nodiscard]] std::optional<Ticket> admit(Ticket ticket, const Host& host);
    // The connection sent its first bytes: its handshake is under way. Returns the handshake to
    // close to make room for it, already forgotten; nothing for a ticket not pending or not silent.
    [[nodiscard]] std::optional<Ticket> spoke(Ticket ticket);
    // The peer of a handshake under way was heard from again; nothing for any other ticket.
    void heard(Ticket ticket);
    // The handshake of `ticket` ended, either way; nothing for a ticket not pending.
    void release(Ticket ticket);

    int pending() const noexcept { return static_cast<int>(pending_.size()); }

private:
    struct Entry {
        Ticket ticket = 0;
        Host host;
        bool spoke = false;
    };
    // How many connections of one kind are pending, in all and per host.
    struct Counts {
        int total = 0;
        std::map<Host, int> perHost;

        void add(const Host& host);
        void remove(const Host& host);
    };

    // Makes room for one more of the kind `spoke` from `host` by forgetting the one of that kind in
    // the full scope that has been quiet longest.
    std::optional<Ticket> makeRoom(const Host& host, bool spoke);
    std::list<Entry>::iterator find(Ticket ticket);
    Counts& countsOf(bool spoke) { return spoke ? handshakes_ : silent_; }

    Limits limits_;
    // Quiet longest first: silent ones by when they connected, the others by when their peer was last
    // heard from.
    std::list<Entry> pending_;
    Counts silent_;
    Counts handshakes_;
};

} // namespace TessaloyNet
