#include "net/channel/HandshakeAdmission.h"

namespace TessaloyNet {

HandshakeAdmission::Host HandshakeAdmission::hostOf(const asio::ip::address& remote) {
    asio::ip::address address = remote;
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    if (address == asio::ip::address_v4::loopback() || address == asio::ip::address_v6::loopback()) {
        return std::nullopt;
    }
    return address.to_string();
}

bool HandshakeAdmission::admit(const Host& host) {
    if (pending_ >= limits_.total) return false;
    if (host && perHost_[*host] >= limits_.perHost) return false;
    ++pending_;
    if (host) ++perHost_[*host];
    return true;
}

void HandshakeAdmission::release(const Host& host) {
    if (pending_ > 0) --pending_;
    if (!host) return;
    const auto found = perHost_.find(*host);
    if (found == perHost_.end()) return;
    if (--found->second <= 0) perHost_.erase(found);
}

} // namespace TessaloyNet
