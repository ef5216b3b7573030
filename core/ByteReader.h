#pragma once

#include "core/Bytes.h"
#include "core/CodecError.h"
#include "core/Utf8.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace TessaloyCore {

// Reads big-endian fields from a byte view, throwing CodecError<ByteReader> on the first problem
// (codecs turn it into their own error with decodeAs). It never reads outside the view.
class ByteReader {
public:
    explicit ByteReader(ByteView bytes) noexcept : bytes_(bytes) {}

    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    std::uint64_t u64();
    std::int64_t i64();
    // 0 or 1; anything else is invalidValue.
    bool boolean();
    // An IEEE-754 double; NaN and infinities are invalidValue.
    double f64();
    // `count` raw bytes, as a view into the input.
    ByteView fixed(std::size_t count);

    // A u32 length, then that many bytes of valid UTF-8 holding at most `maximumBytes` bytes.
    std::string text(std::size_t maximumBytes);
    // The same, with the limit counted in Unicode scalar values.
    std::string textOfCharacters(std::size_t maximumCharacters);
    // A u32 length, then at most `maximumBytes` raw bytes, as a view into the input.
    ByteView bytes(std::size_t maximumBytes);
    // A u8 count of at most `maximumCount`.
    std::size_t count(std::size_t maximumCount);

    std::size_t remaining() const noexcept { return bytes_.size() - offset_; }
    // Everything not read yet, as a view into the input.
    ByteView rest() noexcept;
    // Throws trailingBytes unless everything was read.
    void expectEnd() const;

private:
    std::string utf8(std::size_t maximumBytes, bool countsCharacters);

    ByteView bytes_;
    std::size_t offset_ = 0;
};

} // namespace TessaloyCore
