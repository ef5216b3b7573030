#include "net/channel/HandshakeAdmission.h"

#include <asio/ip/network_v6.hpp>

namespace TessaloyNet {

HandshakeAdmission::Host HandshakeAdmission::hostOf(const asio::ip::address& remote) {
    if (remote.is_v4()) return remote.to_string();
    const asio::ip::address_v6 address = remote.to_v6();
    if (address.is_v4_mapped()) return asio::ip::make_address_v4(asio::ip::v4_mapped, address).to_string();
    return asio::ip::network_v6(address, 64).canonical().to_string();
}

template <typename InScope>
HandshakeAdmission::Ticket HandshakeAdmission::victim(InScope inScope) const {
    std::optional<Ticket> oldest;
    for (const auto& [ticket, entry] : pending_) {
        if (!inScope(entry)) continue;
        if (!entry.spoke) return ticket;
        if (!oldest) oldest = ticket;
    }
    return *oldest;
}

std::optional<HandshakeAdmission::Ticket> HandshakeAdmission::admit(Ticket ticket, const Host& host) {
    std::optional<Ticket> evicted;
    if (perHost_[host] >= limits_.perHost) {
        evicted = victim([&](const Entry& entry) { return entry.host == host; });
    } else if (pending() >= limits_.total) {
        evicted = victim([](const Entry&) { return true; });
    }
    if (evicted) release(*evicted);
    pending_.emplace(ticket, Entry{host});
    ++perHost_[host];
    return evicted;
}

void HandshakeAdmission::spoke(Ticket ticket) {
    const auto found = pending_.find(ticket);
    if (found != pending_.end()) found->second.spoke = true;
}

void HandshakeAdmission::release(Ticket ticket) {
    const auto found = pending_.find(ticket);
    if (found == pending_.end()) return;
    const auto count = perHost_.find(found->second.host);
    if (--count->second <= 0) perHost_.erase(count);
    pending_.erase(found);
}

} // namespace TessaloyNet
