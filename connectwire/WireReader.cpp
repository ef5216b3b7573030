#include "connectwire/WireReader.h"

namespace TessaloyConnectWire {

ByteView WireReader::bytes(std::size_t count) {
    if (remaining() < count) throw NeedMore{};
    const ByteView result = data_.subspan(offset_, count);
    offset_ += count;
    return result;
}

std::uint8_t WireReader::u8() { return bytes(1)[0]; }

std::uint16_t WireReader::u16() {
    const ByteView field = bytes(2);
    return static_cast<std::uint16_t>((field[0] << 8) | field[1]);
}

std::uint64_t WireReader::u64() {
    std::uint64_t value = 0;
    for (const std::uint8_t byte : bytes(8)) value = (value << 8) | byte;
    return value;
}

} // namespace TessaloyConnectWire
