#pragma once

#include "core/Bytes.h"
#include "core/CodecError.h"
#include "core/WirePacket.h"

#include <cstddef>
#include <string>

namespace TessaloyNet {

// A long-term key and a name, sent by each side once pairing is approved. Payload: the 65-byte
// uncompressed P-256 public key, then str(64 bytes) name. Always valid once made.
class PairingExchange {
public:
    using Error = TessaloyCore::CodecError<PairingExchange>;

    static constexpr std::size_t publicKeyBytes = 65;
    static constexpr std::size_t maximumNameBytes = 64;

    // Throws Error: invalidValue for a key that is not a P-256 point in uncompressed form or a
    // name that is not UTF-8, tooLong for a name over 64 bytes.
    PairingExchange(TessaloyCore::Bytes publicKey, std::string name);

    static PairingExchange decode(const TessaloyCore::WirePacket& packet);

    const TessaloyCore::Bytes& publicKey() const noexcept { return publicKey_; }
    const std::string& name() const noexcept { return name_; }

    TessaloyCore::WirePacket packet() const;

    friend bool operator==(const PairingExchange&, const PairingExchange&) = default;

private:
    TessaloyCore::Bytes publicKey_;
    std::string name_;
};

} // namespace TessaloyNet
