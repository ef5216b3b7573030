#include "core/CursorUpdate.h"

#include "core/ByteReader.h"
#include "core/ByteWriter.h"

#include <limits>

namespace TessaloyCore {
namespace {

constexpr std::size_t payloadBytes = 4 + 8 + 8 + 4 + 4 + 1;

// False for NaN as well.
bool isFraction(double value) noexcept { return value >= 0.0 && value <= 1.0; }

std::uint32_t displaySide(std::int64_t value) {
    if (value < 1 || value > std::numeric_limits<std::uint32_t>::max()) {
        throw CursorUpdate::Error(CodecProblem::invalidValue);
    }
    return static_cast<std::uint32_t>(value);
}

} // namespace

CursorUpdate::CursorUpdate(std::uint32_t sequence, double x, double y, std::int64_t displayWidth,
                           std::int64_t displayHeight, bool visible)
    : sequence_(sequence),
      x_(x),
      y_(y),
      displayWidth_(displaySide(displayWidth)),
      displayHeight_(displaySide(displayHeight)),
      visible_(visible) {
    if (!isFraction(x) || !isFraction(y)) throw Error(CodecProblem::invalidValue);
}

CursorUpdate CursorUpdate::decode(const WirePacket& packet) {
    if (packet.kind() != WirePacket::Kind::cursorUpdate) throw Error(CodecProblem::wrongKind);
    return decodeAs<CursorUpdate>([&] {
        ByteReader reader(packet.payload());
        const std::uint32_t sequence = reader.u32();
        const double x = reader.f64();
        const double y = reader.f64();
        const std::uint32_t width = reader.u32();
        const std::uint32_t height = reader.u32();
        const bool visible = reader.boolean();
        CursorUpdate update(sequence, x, y, width, height, visible);
        reader.expectEnd();
        return update;
    });
}

WirePacket CursorUpdate::packet() const {
    ByteWriter writer(payloadBytes);
    writer.u32(sequence_);
    // Finite by construction.
    (void)writer.f64(x_);
    (void)writer.f64(y_);
    writer.u32(displayWidth_);
    writer.u32(displayHeight_);
    writer.boolean(visible_);
    return WirePacket(WirePacket::Kind::cursorUpdate, writer.take());
}

} // namespace TessaloyCore
