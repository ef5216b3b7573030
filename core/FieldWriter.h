#pragma once

#include "core/ByteWriter.h"
#include "core/Bytes.h"
#include "core/CodecError.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace TessaloyCore {

// Appends the fields of a payload like ByteWriter, but throws CodecError<FieldWriter> for a field
// that cannot go on the wire: invalidValue for invalid UTF-8, a non-finite double or a value out of
// its range, tooLong for a field over its limit. Encoders turn it into their own error with
// encodeAs.
class FieldWriter {
public:
    void u8(std::uint8_t value) { writer_.u8(value); }
    void u32(std::uint32_t value) { writer_.u32(value); }
    void i64(std::int64_t value) { writer_.i64(value); }
    void boolean(bool value) { writer_.boolean(value); }
    void f64(double value);

    // u32 length and the UTF-8 bytes, at most `maximumBytes` of them.
    void text(std::string_view text, std::size_t maximumBytes);
    // The same, with the limit counted in Unicode scalar values.
    void textOfCharacters(std::string_view text, std::size_t maximumCharacters);
    // u32 length and at most `maximumBytes` raw bytes.
    void bytes(ByteView bytes, std::size_t maximumBytes);
    // u8 count of at most `maximumCount` elements.
    void count(std::size_t value, std::size_t maximumCount);

    // Throws invalidValue unless `isValid`.
    static void require(bool isValid);

    Bytes take() noexcept { return writer_.take(); }

private:
    ByteWriter writer_;
};

// Runs `encode`, turning the field writer's failure into the error of `Codec`.
template <typename Codec, typename Encode>
auto encodeAs(Encode&& encode) -> decltype(encode()) {
    try {
        return encode();
    } catch (const CodecError<FieldWriter>& failure) {
        throw CodecError<Codec>(failure.value());
    }
}

} // namespace TessaloyCore
