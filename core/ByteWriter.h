#pragma once

#include "core/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace TessaloyCore {

// Appends big-endian fields. The length-limited writers return false, writing nothing, when a
// field breaks its limit; each encoder turns that into its own error.
class ByteWriter {
public:
    ByteWriter() = default;
    explicit ByteWriter(std::size_t reserve) { bytes_.reserve(reserve); }

    void u8(std::uint8_t value) { bytes_.push_back(value); }
    void u16(std::uint16_t value);
    void u32(std::uint32_t value);
    void u64(std::uint64_t value);
    void i64(std::int64_t value) { u64(static_cast<std::uint64_t>(value)); }
    void boolean(bool value) { u8(value ? 1 : 0); }
    // Returns false for NaN and infinities.
    [[nodiscard]] bool f64(double value);
    void fixed(ByteView bytes) { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }

    // u32 length and the UTF-8 bytes; false when the text is not valid UTF-8 or is too long.
    [[nodiscard]] bool text(std::string_view text, std::size_t maximumBytes);
    [[nodiscard]] bool textOfCharacters(std::string_view text, std::size_t maximumCharacters);
    // u32 length and the bytes; false when longer than `maximumBytes`.
    [[nodiscard]] bool bytes(ByteView bytes, std::size_t maximumBytes);
    // u8 count; false when above `maximumCount` (or 255).
    [[nodiscard]] bool count(std::size_t value, std::size_t maximumCount);

    const Bytes& bytes() const noexcept { return bytes_; }
    Bytes take() noexcept { return std::move(bytes_); }

private:
    Bytes bytes_;
};

} // namespace TessaloyCore
