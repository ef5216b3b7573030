#pragma once

#include "core/Bytes.h"

#include <array>
#include <cstdint>
#include <memory>

namespace TessaloyCore {

// Running SHA-256. Copies share nothing: a copy continues from the same point independently.
class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    Sha256(const Sha256& other);
    Sha256& operator=(const Sha256& other);
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;
    ~Sha256();

    void update(ByteView bytes);
    // The digest of everything added so far; the running state is left as it was.
    Digest digest() const;

    static Digest of(ByteView bytes);

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

} // namespace TessaloyCore
