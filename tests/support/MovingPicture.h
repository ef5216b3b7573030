#pragma once

#include "platform/linux/X11Connection.h"

#include <X11/Xlib.h>

#include <cstdint>

namespace Testing {

// A window over the whole screen whose picture moves on at every step(), as video does: each step
// shows another part of a wider pixmap made once, as a copy on the server, so the client does
// little per step.
class MovingPicture {
public:
    enum class Pattern {
        // A diagonal gradient: smooth, compresses well.
        gradient,
        // Random bytes: every picture differs and compresses badly.
        noise,
    };

    MovingPicture(Platform::Linux::X11Connection& connection, int width, int height, Pattern pattern);
    ~MovingPicture();
    MovingPicture(const MovingPicture&) = delete;
    MovingPicture& operator=(const MovingPicture&) = delete;

    // Moves the picture on and waits until the server has drawn it.
    void step();
    // Covers the picture with one colour (0xRRGGBB) until the next step.
    void fill(std::uint32_t rgb);

private:
    Platform::Linux::X11Connection& connection_;
    int width_;
    int height_;
    ::Window window_ = 0;
    Pixmap pixmap_ = 0;
    GC gc_ = nullptr;
    int step_ = 0;
};

} // namespace Testing
