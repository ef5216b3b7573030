#pragma once

#include "core/Bytes.h"
#include "net/channel/P256PrivateKey.h"
#include "net/channel/PairingCode.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace TessaloyNet {

// The TLS keys of both ends of a pairing, derived from the offer's code and salt, so that each end
// knows exactly which key the other must present. Both ends must derive byte for byte alike:
//   seed   = PBKDF2-HMAC-SHA256(the 8 symbols, salt, 200,000 iterations, 32 bytes)
//   scalar = HKDF-SHA256(seed, "Tessaloy pairing v1", info, 48 bytes) mod (n - 1) + 1
// with info "mac identity" or "device identity".
struct PairingKeys {
    static constexpr std::uint64_t iterations = 200'000;
    static constexpr std::size_t seedBytes = 32;
    static constexpr std::size_t scalarMaterialBytes = 48;
    static constexpr std::string_view hkdfSalt = "Tessaloy pairing v1";
    static constexpr std::string_view macInfo = "mac identity";
    static constexpr std::string_view deviceInfo = "device identity";

    P256PrivateKey mac;
    P256PrivateKey device;

    // Both keys; costs one PBKDF2 run. Throws CryptoError.
    static PairingKeys derive(const PairingCode& code, TessaloyCore::ByteView salt);

    // The steps, for the two ends' own checks.
    static TessaloyCore::Bytes seed(const PairingCode& code, TessaloyCore::ByteView salt);
    static P256PrivateKey identity(TessaloyCore::ByteView seed, std::string_view info);
};

} // namespace TessaloyNet
