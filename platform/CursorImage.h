#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Platform {

// The picture of the pointer as the desktop currently shows it. Use from one thread at a time (the
// main actor).
class CursorImage {
public:
    struct Image {
        // Pixels.
        int width = 0;
        int height = 0;
        // Pixels per point.
        double scale = 1;
        // The hot spot, in points from the top left.
        double hotspotX = 0;
        double hotspotY = 0;
        // Changes whenever the desktop changes the pointer's shape (not only its picture).
        std::uint64_t serial = 0;
        // Premultiplied 0xAARRGGBB, row after row, `width` × `height` of them.
        std::vector<std::uint32_t> pixels;

        double pointWidth() const { return width / scale; }
        double pointHeight() const { return height / scale; }
        friend bool operator==(const Image&, const Image&) = default;
    };

    // Reads the pointer of the display server `displayName` (empty: the session's). Returns nullptr
    // when no server answers or it cannot show its pointer's picture, with the reason in `whyNot`.
    static std::unique_ptr<CursorImage> create(const std::string& displayName = {}, std::string* whyNot = nullptr);

    virtual ~CursorImage() = default;

    // The pointer's picture now; nothing when there is none or it cannot be read.
    virtual std::optional<Image> current() = 0;
};

} // namespace Platform
