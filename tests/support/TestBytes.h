#pragma once

#include "core/Bytes.h"
#include "core/Sha256.h"

#include <cstddef>
#include <cstdint>

namespace Testing {

// `size` bytes that differ from their neighbours and from the bytes any power of two further on,
// so a chunk that is misplaced, repeated or left out shows; another `seed` gives other bytes.
inline TessaloyCore::Bytes pattern(std::size_t size, std::uint8_t seed = 0) {
    TessaloyCore::Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 31 + i / 251);
    return bytes;
}

// The SHA-256 of `bytes`, as a transfer's finish carries it.
inline TessaloyCore::Bytes digestOf(TessaloyCore::ByteView bytes) {
    const auto digest = TessaloyCore::Sha256::of(bytes);
    return {digest.begin(), digest.end()};
}

} // namespace Testing
