#pragma once

#include "core/Bytes.h"
#include "net/channel/TlsIdentity.h"

#include <asio/ssl/context.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace TessaloyNet {

// One end's TLS configuration: TLS 1.3 only, this end's identity, no session resumption (every
// connection proves its key afresh) and a peer check that replaces certificate verification
// entirely. No certificate chain is ever evaluated or trusted: the peer is judged by the public key
// of its leaf certificate alone, so an expired, self-signed or otherwise invalid chain neither
// admits nor refuses anyone. A server requires a client certificate.
//
// Copies share one OpenSSL context; a connection keeps it alive as long as it needs it.
class TlsParameters {
public:
    enum class Side { server, client };

    // Judges the X9.63 key of the peer's leaf certificate (empty when it holds no P-256 key):
    // nothing to admit the peer, otherwise the refusal reason. Runs on the connection's queue,
    // during the handshake; must not throw.
    using PeerCheck = std::function<std::optional<std::string>(TessaloyCore::ByteView peerKey)>;

    // Throws CryptoError.
    TlsParameters(Side side, const TlsIdentity& identity, PeerCheck check);
    // Presents no certificate: only a client can do without one, and no server of ours admits it.
    TlsParameters(Side side, PeerCheck check);

    Side side() const noexcept;
    asio::ssl::context& context() const noexcept;

    // Server side: `observer` runs on the connection's queue when a client's hello arrives, that is
    // once per handshake attempt. Set before the first connection.
    void observeAttempts(std::function<void()> observer);
    // The reason to report when the peer refuses this end's certificate (it sends a certificate
    // alert): in pairing mode a wrong code shows first on the device, which refuses the Mac's key.
    void setRefusedByPeerReason(std::string reason);
    const std::optional<std::string>& refusedByPeerReason() const noexcept;

    // Makes `ssl` record the refusal of its peer check in `*refusal`, which must outlive the
    // handshake of `ssl`.
    static void recordRefusal(SSL* ssl, std::optional<std::string>* refusal);

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace TessaloyNet
