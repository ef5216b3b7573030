#pragma once

#include "connectwire/ConnectChannel.h"
#include "connectwire/ConnectRole.h"
#include "connectwire/DataHello.h"
#include "connectwire/SealedHello.h"
#include "core/Bytes.h"
#include "net/channel/DeviceIdentity.h"

#include <chrono>

namespace TessaloyNet {

// The meeting identifier a Mac and a paired device share without sending it, and the sealed
// hello that opens every relayed data connection, sealed with HPKE (DHKEM(P-256, HKDF-SHA256),
// HKDF-SHA256, AES-256-GCM).
namespace MeetingIdentity {

// 32 bytes, the same from either side of the pair. Throws CryptoError for a key that is no P-256 point.
TessaloyCore::Bytes meetingID(const DeviceIdentity& identity, TessaloyCore::ByteView peerPublicKey);
// A hello stamped with `now` (whole milliseconds since 1970, never negative) and a fresh nonce.
TessaloyConnectWire::DataHello hello(TessaloyConnectWire::ConnectRole role, TessaloyConnectWire::ConnectChannel channel,
                                     TessaloyCore::ByteView id, std::chrono::system_clock::time_point now);
// Seals `hello` to the relay's hello key with a fresh ephemeral key. Throws CryptoError for a key
// that is no P-256 point, ConnectWireError for a hello that does not encode.
TessaloyConnectWire::SealedHello seal(const TessaloyConnectWire::DataHello& hello, TessaloyCore::ByteView helloKey);

} // namespace MeetingIdentity

} // namespace TessaloyNet
