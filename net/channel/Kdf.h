#pragma once

#include "core/Bytes.h"

#include <cstddef>
#include <cstdint>

namespace TessaloyNet {

// HKDF-SHA256 (RFC 5869), extract and expand. An empty salt means HashLen zero bytes. `length` is at
// most 8,160. Throws CryptoError.
TessaloyCore::Bytes hkdfSha256(TessaloyCore::ByteView key, TessaloyCore::ByteView salt, TessaloyCore::ByteView info,
                               std::size_t length);

// PBKDF2 with HMAC-SHA256 (RFC 8018). `iterations` must be at least 1. Throws CryptoError.
TessaloyCore::Bytes pbkdf2HmacSha256(TessaloyCore::ByteView password, TessaloyCore::ByteView salt,
                                     std::uint64_t iterations, std::size_t length);

} // namespace TessaloyNet
