#include "tests/support/FakeCursorImage.h"

namespace Testing {

FakeCursorImage::Image FakeCursorImage::filled(int width, int height, std::uint32_t argb, std::uint32_t border,
                                               double hotspotX, double hotspotY) {
    Image image{.width = width,
                .height = height,
                .scale = 1,
                .hotspotX = hotspotX,
                .hotspotY = hotspotY,
                .serial = 0,
                .pixels = {}};
    image.pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool edge = x == 0 || y == 0 || x == width - 1 || y == height - 1;
            image.pixels.push_back(edge ? border : argb);
        }
    }
    return image;
}

std::optional<FakeCursorImage::Image> FakeCursorImage::current() {
    std::lock_guard guard(lock_);
    ++reads_;
    return image_;
}

void FakeCursorImage::setImage(std::optional<Image> image) {
    std::lock_guard guard(lock_);
    image_ = std::move(image);
}

int FakeCursorImage::reads() const {
    std::lock_guard guard(lock_);
    return reads_;
}

} // namespace Testing
