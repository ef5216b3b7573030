#pragma once

#include "platform/linux/X11Connection.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Bench {

// A diagonal gradient over the whole screen that moves 4 pixels a frame, as a server-side copy from
// a pixmap made once, so the client does little per frame.
class MovingPicture {
public:
    MovingPicture(const std::string& displayName, int width, int height)
        : connection_(Platform::Linux::X11Connection::open(displayName)), width_(width), height_(height) {
        ::Display* display = connection_->display();
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        window_ = XCreateWindow(display, connection_->root(), 0, 0, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, nullptr,
                                CWOverrideRedirect, &attributes);
        XMapRaised(display, window_);
        const int sourceWidth = width + 256;
        pixmap_ = XCreatePixmap(display, window_, static_cast<unsigned>(sourceWidth), static_cast<unsigned>(height),
                                static_cast<unsigned>(DefaultDepth(display, connection_->screen())));
        gc_ = XCreateGC(display, pixmap_, 0, nullptr);
        std::vector<char> pixels(static_cast<std::size_t>(sourceWidth) * 4 * static_cast<std::size_t>(height));
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<std::uint8_t*>(pixels.data()) + static_cast<std::size_t>(y) * sourceWidth * 4;
            for (int x = 0; x < sourceWidth; ++x) {
                const int phase = x + y;
                row[x * 4 + 0] = static_cast<std::uint8_t>(phase);
                row[x * 4 + 1] = static_cast<std::uint8_t>(phase / 2 + y);
                row[x * 4 + 2] = static_cast<std::uint8_t>(255 - (phase & 0xFF));
                row[x * 4 + 3] = 0;
            }
        }
        XImage* image =
            XCreateImage(display, DefaultVisual(display, connection_->screen()), 24, ZPixmap, 0, pixels.data(),
                         static_cast<unsigned>(sourceWidth), static_cast<unsigned>(height), 32, 0);
        XPutImage(display, pixmap_, gc_, image, 0, 0, 0, 0, static_cast<unsigned>(sourceWidth),
                  static_cast<unsigned>(height));
        image->data = nullptr; // the vector owns the pixels
        XDestroyImage(image);
        XSync(display, False);
    }
    ~MovingPicture() {
        ::Display* display = connection_->display();
        XFreeGC(display, gc_);
        XFreePixmap(display, pixmap_);
        XDestroyWindow(display, window_);
        XSync(display, False);
    }
    MovingPicture(const MovingPicture&) = delete;
    MovingPicture& operator=(const MovingPicture&) = delete;

    void draw(int step) {
        XCopyArea(connection_->display(), pixmap_, window_, gc_, (step * 4) % 256, 0, static_cast<unsigned>(width_),
                  static_cast<unsigned>(height_), 0, 0);
        XSync(connection_->display(), False);
    }

private:
    std::unique_ptr<Platform::Linux::X11Connection> connection_;
    int width_;
    int height_;
    ::Window window_ = 0;
    Pixmap pixmap_ = 0;
    GC gc_ = nullptr;
};

} // namespace Bench
