#pragma once

#include "platform/CursorImage.h"

#include <cstdint>
#include <mutex>
#include <optional>

namespace Testing {

// A pointer whose picture the test sets; counts how often it was read. Safe from any thread.
class FakeCursorImage final : public Platform::CursorImage {
public:
    // A `width` × `height` picture of one premultiplied colour with a `border` one pixel wide,
    // so that pictures of different sizes and colours differ in every respect.
    static Image filled(int width, int height, std::uint32_t argb, std::uint32_t border, double hotspotX = 0,
                        double hotspotY = 0);

    std::optional<Image> current() override;

    // Nothing: no pointer picture.
    void setImage(std::optional<Image> image);
    int reads() const;

private:
    mutable std::mutex lock_;
    std::optional<Image> image_;
    int reads_ = 0;
};

} // namespace Testing
