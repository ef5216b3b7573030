#pragma once

#include <string_view>

namespace TessaloyNet {

// Why a connection was refused or ended, as the listener reports it in `rejected(reason)` and a
// channel in its close error. The texts are stable: the controller tells them apart by the words
// in them ("certificate", "bad certificate", "certificate required", "did not finish connecting",
// "did not complete", "connection reset"), so those words appear exactly where meant.
struct RefusalReason {
    // Admission control: a pending handshake closed to make room for a newer one, in all or from
    // one host.
    static constexpr std::string_view tooManyHandshakes = "Too many connections are being attempted at once.";
    // Pairing mode: the client's key is not the one derived from the code, or the device refused the
    // Mac's derived key: a wrong code either way.
    static constexpr std::string_view pairingCodeMismatch = "The device's certificate does not match the pairing code.";
    // Trusted mode: the device refused this Mac's key (it was paired with another identity).
    static constexpr std::string_view macKeyRefused = "Bad certificate: the device does not accept this Mac's key.";
    // Trusted mode: the client's key is not in the trust store.
    static constexpr std::string_view notPaired = "Bad certificate: the device is not paired with this Mac.";
    // The client presented no certificate.
    static constexpr std::string_view certificateRequired = "Certificate required: the device presented none.";
    // TLS and the role were not done within the handshake deadline.
    static constexpr std::string_view handshakeTooSlow = "The device did not finish connecting in time.";
    // The connection ended in the middle of the handshake.
    static constexpr std::string_view handshakeIncomplete = "The connection ended; the handshake did not complete.";
    // Trusted mode: the trust store could not be read (out of descriptors, say): this prefix, then
    // the store's error with the system's text. Not the device's fault, so no "certificate" here.
    static constexpr std::string_view pairedDevicesUnreadablePrefix = "The paired devices could not be read: ";
    // Taking the connection would have left the program too few descriptors for itself.
    static constexpr std::string_view tooFewDescriptors =
        "Too many files and connections are open on this computer; the connection was turned away.";
    // Accepting connections failed: this prefix, then the system's text. The listener keeps trying.
    static constexpr std::string_view acceptFailedPrefix = "Could not accept connections: ";
    // Any other handshake failure: this prefix, then the TLS library's text.
    static constexpr std::string_view handshakeFailedPrefix = "TLS handshake failed: ";
    // The first packet of a connection was of another kind than channelRole.
    static constexpr std::string_view firstPacketNotRole = "The first packet did not declare the channel's role.";
    // A channelRole packet whose payload is not a role.
    static constexpr std::string_view unreadableRole = "The channel's role could not be read.";
    // More packets than the receive budget allows (240 a second, bursts of 720).
    static constexpr std::string_view receiveBudgetExceeded =
        "The peer sent more packets than its receive budget allows.";
    // A packet header the decoder refused: this prefix, then the WireError's case name.
    static constexpr std::string_view badHeaderPrefix = "The peer sent a bad packet header: ";
    // Nothing arrived within the read time-out: this prefix, the seconds, then readTimeoutSuffix.
    static constexpr std::string_view readTimeoutPrefix = "Nothing was received for ";
    static constexpr std::string_view readTimeoutSuffix = " seconds.";
    // Device side: the Mac's key is not the one expected.
    static constexpr std::string_view hostKeyMismatch = "The Mac's certificate does not carry the expected key.";
};

} // namespace TessaloyNet
