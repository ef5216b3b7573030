#include "net/channel/LANTransport.h"

#include "net/channel/RefusalReason.h"
#include "net/channel/SelfSignedCertificate.h"

namespace TessaloyNet {
namespace {

using TessaloyCore::Bytes;
using TessaloyCore::ByteView;
using Side = TlsParameters::Side;

TlsParameters::PeerCheck expectingKey(Bytes expected, std::string_view refusal) {
    return
        [expected = std::move(expected), refusal = std::string(refusal)](ByteView key) -> std::optional<std::string> {
            if (SelfSignedCertificate::matches(key, expected)) return std::nullopt;
            return refusal;
        };
}

} // namespace

TlsParameters LANTransport::trustedClientParameters(const DeviceIdentity& identity, std::string_view displayName,
                                                    ByteView expectedHostKey) {
    return TlsParameters(
        Side::client, TlsIdentity(identity.privateKey(), displayName),
        expectingKey(Bytes(expectedHostKey.begin(), expectedHostKey.end()), RefusalReason::hostKeyMismatch));
}

TlsParameters LANTransport::pairingClientParameters(const PairingKeys& keys, std::string_view displayName) {
    return TlsParameters(Side::client, TlsIdentity(keys.device, displayName),
                         expectingKey(keys.mac.publicKey().x963Representation(), RefusalReason::hostKeyMismatch));
}

TlsParameters LANTransport::pairingServerParameters(const PairingKeys& keys, std::string_view displayName,
                                                    std::function<void()> onAttempt) {
    TlsParameters parameters(
        Side::server, TlsIdentity(keys.mac, displayName),
        expectingKey(keys.device.publicKey().x963Representation(), RefusalReason::pairingCodeMismatch));
    parameters.observeAttempts(std::move(onAttempt));
    parameters.setRefusedByPeerReason(std::string(RefusalReason::pairingCodeMismatch));
    return parameters;
}

TlsParameters LANTransport::trustedServerParameters(const DeviceIdentity& identity, std::string_view displayName,
                                                    std::shared_ptr<const PairedDeviceStore> trusted) {
    TlsParameters parameters(Side::server, TlsIdentity(identity.privateKey(), displayName),
                             [trusted = std::move(trusted)](ByteView key) -> std::optional<std::string> {
                                 if (key.empty()) return std::string(RefusalReason::notPaired);
                                 try {
                                     // device() compares keys in constant time.
                                     if (trusted->device(key)) return std::nullopt;
                                 } catch (const std::exception& error) {
                                     return std::string(RefusalReason::pairedDevicesUnreadablePrefix) + error.what();
                                 }
                                 return std::string(RefusalReason::notPaired);
                             });
    parameters.setRefusedByPeerReason(std::string(RefusalReason::macKeyRefused));
    return parameters;
}

} // namespace TessaloyNet
