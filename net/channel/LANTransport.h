#pragma once

#include "core/Bytes.h"
#include "net/channel/DeviceIdentity.h"
#include "net/channel/PairedDeviceStore.h"
#include "net/channel/PairingKeys.h"
#include "net/channel/TlsParameters.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

namespace TessaloyNet {

// The TLS parameters of both ends of a LAN connection, in the two modes:
// - pairing: both identities are derived from the offer's code and salt (PairingKeys); each end
//   accepts only the peer whose leaf key equals the peer's derived key;
// - trusted: the Mac presents its DeviceIdentity and admits only client keys in the trust store;
//   the device presents its own long-term key and accepts only the Mac key it pinned at pairing.
// Keys are compared with SelfSignedCertificate::matches; no certificate chain is ever evaluated.
// Every function throws CryptoError when OpenSSL refuses the identity.
class LANTransport {
public:
    static constexpr std::string_view serviceType = "_tessaloy._tcp";
    // The port paired devices connect to, unless the settings name another.
    static constexpr std::uint16_t defaultPort = 55801;

    // Device side.
    static TlsParameters trustedClientParameters(const DeviceIdentity& identity, std::string_view displayName,
                                                 TessaloyCore::ByteView expectedHostKey);
    static TlsParameters pairingClientParameters(const PairingKeys& keys, std::string_view displayName);

    // Mac side. `onAttempt` runs on the connection's queue each time a client's hello arrives: one
    // handshake attempt against the code, whatever key the client then presents.
    static TlsParameters pairingServerParameters(const PairingKeys& keys, std::string_view displayName,
                                                 std::function<void()> onAttempt);
    // Every handshake made with them shares `trusted` (never null).
    static TlsParameters trustedServerParameters(const DeviceIdentity& identity, std::string_view displayName,
                                                 std::shared_ptr<const PairedDeviceStore> trusted);
};

} // namespace TessaloyNet
