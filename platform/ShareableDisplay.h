#pragma once

#include <cstdint>
#include <string>

namespace Platform {

// One display that can be shared, as listed by `Displays`.
struct ShareableDisplay {
    // A rectangle of the desktop in pixels, in the coordinates of the whole screen.
    struct Bounds {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;

        friend bool operator==(const Bounds&, const Bounds&) = default;
    };

    // Never 0; stays the same for as long as the display exists.
    std::uint32_t displayID = 0;
    int width = 0;
    int height = 0;
    bool isMain = false;
    Bounds bounds;
    std::string name;

    friend bool operator==(const ShareableDisplay&, const ShareableDisplay&) = default;
};

} // namespace Platform
