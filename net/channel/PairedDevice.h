#pragma once

#include "core/Bytes.h"

#include <chrono>
#include <optional>
#include <string>

namespace TessaloyNet {

// A phone this Mac trusts: its key is its identity.
struct PairedDevice {
    using Date = std::chrono::system_clock::time_point;

    // P-256 public key, 65 bytes, uncompressed X9.63.
    TessaloyCore::Bytes publicKey;
    std::string name;
    Date pairedAt;
    // None until the device connects after pairing.
    std::optional<Date> lastSeenAt;

    friend bool operator==(const PairedDevice&, const PairedDevice&) = default;
};

} // namespace TessaloyNet
