#include "platform/linux/CursorCompositor.h"

#include <algorithm>

namespace Platform::Linux {
namespace {

// Premultiplied "over": the picture keeps (255 - alpha)/255 of itself under the pointer's colour.
std::uint8_t over(unsigned source, unsigned destination, unsigned remaining) {
    return static_cast<std::uint8_t>(std::min(255u, source + (destination * remaining + 127) / 255));
}

} // namespace

bool CursorCompositor::composite(std::uint8_t* pixels, int width, int height, std::size_t bytesPerRow,
                                 const Cursor& cursor, int left, int top) {
    const int firstColumn = std::max(0, -left);
    const int lastColumn = std::min(cursor.width, width - left);
    const int firstRow = std::max(0, -top);
    const int lastRow = std::min(cursor.height, height - top);
    if (firstColumn >= lastColumn || firstRow >= lastRow) return false;

    for (int row = firstRow; row < lastRow; ++row) {
        const unsigned long* source =
            cursor.pixels + static_cast<std::size_t>(row) * static_cast<std::size_t>(cursor.width);
        std::uint8_t* destination = pixels + static_cast<std::size_t>(top + row) * bytesPerRow;
        for (int column = firstColumn; column < lastColumn; ++column) {
            const auto argb = static_cast<std::uint32_t>(source[column]);
            const unsigned alpha = argb >> 24;
            if (alpha == 0) continue;
            std::uint8_t* pixel = destination + static_cast<std::size_t>(left + column) * 4;
            if (alpha == 255) {
                pixel[0] = static_cast<std::uint8_t>(argb);
                pixel[1] = static_cast<std::uint8_t>(argb >> 8);
                pixel[2] = static_cast<std::uint8_t>(argb >> 16);
                continue;
            }
            const unsigned remaining = 255 - alpha;
            pixel[0] = over(argb & 0xff, pixel[0], remaining);
            pixel[1] = over((argb >> 8) & 0xff, pixel[1], remaining);
            pixel[2] = over((argb >> 16) & 0xff, pixel[2], remaining);
        }
    }
    return true;
}

} // namespace Platform::Linux
