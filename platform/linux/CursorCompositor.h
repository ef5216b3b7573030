#pragma once

#include <cstddef>
#include <cstdint>

namespace Platform::Linux {

// Draws the pointer's picture into a captured picture in place.
struct CursorCompositor {
    // The pointer as XFixes gives it: `width` × `height` pixels, each premultiplied 0xAARRGGBB in
    // the low 32 bits of an `unsigned long`, row after row.
    struct Cursor {
        const unsigned long* pixels = nullptr;
        int width = 0;
        int height = 0;
    };

    // Blends `cursor` over `pixels` (B G R X, `width` × `height`, `bytesPerRow` apart) with the
    // cursor's top-left at (left, top), clipped to the picture; nothing happens when they do not
    // overlap. Returns whether any pixel was inside.
    static bool composite(std::uint8_t* pixels, int width, int height, std::size_t bytesPerRow, const Cursor& cursor,
                          int left, int top);
};

} // namespace Platform::Linux
