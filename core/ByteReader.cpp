#include "core/ByteReader.h"

#include <bit>
#include <cmath>

namespace TessaloyCore {
namespace {

[[noreturn]] void fail(CodecProblem problem) { throw CodecError<ByteReader>(problem); }

} // namespace

ByteView ByteReader::fixed(std::size_t count) {
    if (count > remaining()) fail(CodecProblem::truncated);
    const ByteView view = bytes_.subspan(offset_, count);
    offset_ += count;
    return view;
}

std::uint8_t ByteReader::u8() { return fixed(1)[0]; }

std::uint16_t ByteReader::u16() {
    const ByteView b = fixed(2);
    return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
}

std::uint32_t ByteReader::u32() {
    const ByteView b = fixed(4);
    return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
}

std::uint64_t ByteReader::u64() {
    const std::uint64_t high = u32();
    return high << 32 | u32();
}

std::int64_t ByteReader::i64() { return static_cast<std::int64_t>(u64()); }

bool ByteReader::boolean() {
    const std::uint8_t value = u8();
    if (value > 1) fail(CodecProblem::invalidValue);
    return value == 1;
}

double ByteReader::f64() {
    const double value = std::bit_cast<double>(u64());
    if (!std::isfinite(value)) fail(CodecProblem::invalidValue);
    return value;
}

std::string ByteReader::text(std::size_t maximumBytes) { return utf8(maximumBytes, false); }

std::string ByteReader::textOfCharacters(std::size_t maximumCharacters) { return utf8(maximumCharacters, true); }

std::string ByteReader::utf8(std::size_t maximum, bool countsCharacters) {
    const std::uint32_t length = u32();
    const ByteView raw = fixed(length);
    const std::string_view text(reinterpret_cast<const char*>(raw.data()), raw.size());
    if (!isValidUtf8(text)) fail(CodecProblem::invalidValue);
    if ((countsCharacters ? scalarCount(text) : text.size()) > maximum) fail(CodecProblem::tooLong);
    return std::string(text);
}

ByteView ByteReader::bytes(std::size_t maximumBytes) {
    const std::uint32_t length = u32();
    const ByteView raw = fixed(length);
    if (raw.size() > maximumBytes) fail(CodecProblem::tooLong);
    return raw;
}

std::size_t ByteReader::count(std::size_t maximumCount) {
    const std::uint8_t value = u8();
    if (value > maximumCount) fail(CodecProblem::tooLong);
    return value;
}

ByteView ByteReader::rest() noexcept {
    const ByteView view = bytes_.subspan(offset_);
    offset_ = bytes_.size();
    return view;
}

void ByteReader::expectEnd() const {
    if (remaining() != 0) fail(CodecProblem::trailingBytes);
}

} // namespace TessaloyCore
