#pragma once

#include "core/CodecError.h"
#include "core/WirePacket.h"

#include <cstdint>

namespace TessaloyCore {

// Where the pointer is on the shared display, for a device that draws the pointer itself: x and y
// are fractions of the display's width and height, from its top-left corner.
class CursorUpdate {
public:
    using Error = CodecError<CursorUpdate>;

    // Throws Error invalidValue when x or y is not within 0...1 (NaN included) or a display side
    // is not within 1...4,294,967,295.
    CursorUpdate(std::uint32_t sequence, double x, double y, std::int64_t displayWidth, std::int64_t displayHeight,
                 bool visible);

    std::uint32_t sequence() const noexcept { return sequence_; }
    double x() const noexcept { return x_; }
    double y() const noexcept { return y_; }
    std::uint32_t displayWidth() const noexcept { return displayWidth_; }
    std::uint32_t displayHeight() const noexcept { return displayHeight_; }
    bool visible() const noexcept { return visible_; }

    static CursorUpdate decode(const WirePacket& packet);
    WirePacket packet() const;

    friend bool operator==(const CursorUpdate&, const CursorUpdate&) = default;

private:
    std::uint32_t sequence_;
    double x_;
    double y_;
    std::uint32_t displayWidth_;
    std::uint32_t displayHeight_;
    bool visible_;
};

} // namespace TessaloyCore
