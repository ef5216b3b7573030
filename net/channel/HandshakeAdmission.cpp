#include "net/channel/HandshakeAdmission.h"

#include <asio/ip/network_v6.hpp>

namespace TessaloyNet {

HandshakeAdmission::Host HandshakeAdmission::hostOf(const asio::ip::address& remote) {
    if (remote.is_v4()) return remote.to_string();
    const asio::ip::address_v6 address = remote.to_v6();
    if (address.is_v4_mapped()) return asio::ip::make_address_v4(asio::ip::v4_mapped, address).to_string();
    return asio::ip::network_v6(address, 64).canonical().to_string();
}

void HandshakeAdmission::Counts::add(const Host& host) {
    ++total;
    ++perHost[host];
}

void HandshakeAdmission::Counts::remove(const Host& host) {
    --total;
    const auto count = perHost.find(host);
    if (--count->second <= 0) perHost.erase(count);
}

std::optional<HandshakeAdmission::Ticket> HandshakeAdmission::makeRoom(const Host& host, bool spoke) {
    const Counts& counts = countsOf(spoke);
    const int perHostLimit = spoke ? limits_.perHost : limits_.silentPerHost;
    const int totalLimit = spoke ? limits_.total : limits_.silentTotal;
    const auto hostCount = counts.perHost.find(host);
    const bool hostFull = hostCount != counts.perHost.end() && hostCount->second >= perHostLimit;
    if (!hostFull && counts.total < totalLimit) return std::nullopt;
    for (const auto& [ticket, entry] : pending_) {
        if (entry.spoke != spoke || (hostFull && entry.host != host)) continue;
        const Ticket oldest = ticket;
        release(oldest);
        return oldest;
    }
    return std::nullopt;
}

std::optional<HandshakeAdmission::Ticket> HandshakeAdmission::admit(Ticket ticket, const Host& host) {
    const auto evicted = makeRoom(host, false);
    pending_.emplace(ticket, Entry{host});
    silent_.add(host);
    return evicted;
}

std::optional<HandshakeAdmission::Ticket> HandshakeAdmission::spoke(Ticket ticket) {
    const auto found = pending_.find(ticket);
    if (found == pending_.end() || found->second.spoke) return std::nullopt;
    const Host host = found->second.host;
    silent_.remove(host);
    pending_.erase(found);
    // Room among the handshakes, with this one out of the way; it keeps its place in age.
    const auto evicted = makeRoom(host, true);
    pending_.emplace(ticket, Entry{host, true});
    handshakes_.add(host);
    return evicted;
}

void HandshakeAdmission::release(Ticket ticket) {
    const auto found = pending_.find(ticket);
    if (found == pending_.end()) return;
    countsOf(found->second.spoke).remove(found->second.host);
    pending_.erase(found);
}

} // namespace TessaloyNet
