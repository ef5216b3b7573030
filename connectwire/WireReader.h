#pragma once

#include "connectwire/ConnectProtocol.h"

#include <cstddef>
#include <cstdint>

namespace TessaloyConnectWire {

// A bounded big-endian reader over a receive buffer. A read that finds too few bytes throws
// NeedMore; each decoder decides whether that means "wait for more" or "malformed".
class WireReader {
public:
    struct NeedMore {};

    explicit WireReader(ByteView data) noexcept : data_(data) {}

    ByteView bytes(std::size_t count);
    std::uint8_t u8();
    std::uint16_t u16();
    std::uint64_t u64();

    std::size_t offset() const noexcept { return offset_; }
    std::size_t remaining() const noexcept { return data_.size() - offset_; }

private:
    ByteView data_;
    std::size_t offset_ = 0;
};

} // namespace TessaloyConnectWire
