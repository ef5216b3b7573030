#include "core/ByteWriter.h"

#include "core/ByteReader.h"

#include <bit>
#include <cmath>

namespace TessaloyCore {

void ByteWriter::u16(std::uint16_t value) {
    u8(static_cast<std::uint8_t>(value >> 8));
    u8(static_cast<std::uint8_t>(value));
}

void ByteWriter::u32(std::uint32_t value) {
    u16(static_cast<std::uint16_t>(value >> 16));
    u16(static_cast<std::uint16_t>(value));
}

void ByteWriter::u64(std::uint64_t value) {
    u32(static_cast<std::uint32_t>(value >> 32));
    u32(static_cast<std::uint32_t>(value));
}

bool ByteWriter::f64(double value) {
    if (!std::isfinite(value)) return false;
    u64(std::bit_cast<std::uint64_t>(value));
    return true;
}

bool ByteWriter::text(std::string_view text, std::size_t maximumBytes) {
    if (text.size() > maximumBytes || !isValidUtf8(text)) return false;
    u32(static_cast<std::uint32_t>(text.size()));
    fixed({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    return true;
}

bool ByteWriter::textOfCharacters(std::string_view text, std::size_t maximumCharacters) {
    if (!isValidUtf8(text) || scalarCount(text) > maximumCharacters || text.size() > UINT32_MAX) return false;
    u32(static_cast<std::uint32_t>(text.size()));
    fixed({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    return true;
}

bool ByteWriter::bytes(ByteView bytes, std::size_t maximumBytes) {
    if (bytes.size() > maximumBytes || bytes.size() > UINT32_MAX) return false;
    u32(static_cast<std::uint32_t>(bytes.size()));
    fixed(bytes);
    return true;
}

bool ByteWriter::count(std::size_t value, std::size_t maximumCount) {
    if (value > maximumCount || value > 0xFF) return false;
    u8(static_cast<std::uint8_t>(value));
    return true;
}

} // namespace TessaloyCore
