#include "net/channel/HandshakeAdmission.h"

#include <asio/ip/network_v6.hpp>

#include <algorithm>

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
    for (const Entry& entry : pending_) {
        if (entry.spoke != spoke || (hostFull && entry.host != host)) continue;
        const Ticket quietest = entry.ticket;
        release(quietest);
        return quietest;
    }
    return std::nullopt;
}

std::list<HandshakeAdmission::Entry>::iterator HandshakeAdmission::find(Ticket ticket) {
    return std::find_if(pending_.begin(), pending_.end(),
                        [ticket](const Entry& entry) { return entry.ticket == ticket; });
}

std::optional<HandshakeAdmission::Ticket> HandshakeAdmission::admit(Ticket ticket, const Host& host) {
    const auto evicted = makeRoom(host, false);
    pending_.push_back({ticket, host});
    silent_.add(host);
    return evicted;
}

std::optional<HandshakeAdmission::Ticket> HandshakeAdmission::spoke(Ticket ticket) {
    const auto found = find(ticket);
    if (found == pending_.end() || found->spoke) return std::nullopt;
    const Host host = found->host;
    silent_.remove(host);
    pending_.erase(found);
    // Room among the handshakes, with this one out of the way; heard from just now, it goes last.
    const auto evicted = makeRoom(host, true);
    pending_.push_back({ticket, host, true});
    handshakes_.add(host);
    return evicted;
}

void HandshakeAdmission::heard(Ticket ticket) {
    const auto found = find(ticket);
    if (found != pending_.end() && found->spoke) pending_.splice(pending_.end(), pending_, found);
}

void HandshakeAdmission::release(Ticket ticket) {
    const auto found = find(ticket);
    if (found == pending_.end()) return;
    countsOf(found->spoke).remove(found->host);
    pending_.erase(found);
}

} // namespace TessaloyNet
