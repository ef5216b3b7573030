#include "tests/support/MovingPicture.h"

#include <X11/Xutil.h>

#include <random>
#include <vector>

namespace Testing {
namespace {

// The picture moves this many pixels a step and comes back to its start after `positions` steps.
constexpr int shift = 4;
constexpr int positions = 64;

// BGRX pixels of `width` x `height`.
std::vector<char> pixelsOf(MovingPicture::Pattern pattern, int width, int height) {
    std::vector<char> pixels(static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height));
    if (pattern == MovingPicture::Pattern::noise) {
        std::mt19937 random(7);
        for (auto& byte : pixels) byte = static_cast<char>(random() & 0xff);
        return pixels;
    }
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<std::uint8_t*>(pixels.data()) + static_cast<std::size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            const int phase = x + y;
            row[x * 4 + 0] = static_cast<std::uint8_t>(phase);
            row[x * 4 + 1] = static_cast<std::uint8_t>(phase / 2 + y);
            row[x * 4 + 2] = static_cast<std::uint8_t>(255 - (phase & 0xFF));
            row[x * 4 + 3] = 0;
        }
    }
    return pixels;
}

} // namespace

MovingPicture::MovingPicture(Platform::Linux::X11Connection& connection, int width, int height, Pattern pattern)
    : connection_(connection), width_(width), height_(height) {
    ::Display* display = connection_.display();
    XSetWindowAttributes attributes{};
    // Override-redirect: mapped at once and where asked, as there is no window manager.
    attributes.override_redirect = True;
    window_ =
        XCreateWindow(display, connection_.root(), 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                      CopyFromParent, InputOutput, nullptr, CWOverrideRedirect, &attributes);
    XMapRaised(display, window_);
    const int sourceWidth = width + shift * positions;
    pixmap_ = XCreatePixmap(display, window_, static_cast<unsigned>(sourceWidth), static_cast<unsigned>(height),
                            static_cast<unsigned>(DefaultDepth(display, connection_.screen())));
    gc_ = XCreateGC(display, pixmap_, 0, nullptr);
    std::vector<char> pixels = pixelsOf(pattern, sourceWidth, height);
    XImage* image = XCreateImage(display, DefaultVisual(display, connection_.screen()), 24, ZPixmap, 0, pixels.data(),
                                 static_cast<unsigned>(sourceWidth), static_cast<unsigned>(height), 32, 0);
    XPutImage(display, pixmap_, gc_, image, 0, 0, 0, 0, static_cast<unsigned>(sourceWidth),
              static_cast<unsigned>(height));
    image->data = nullptr; // the vector owns the pixels
    XDestroyImage(image);
    XSync(display, False);
}

MovingPicture::~MovingPicture() {
    ::Display* display = connection_.display();
    XFreeGC(display, gc_);
    XFreePixmap(display, pixmap_);
    XDestroyWindow(display, window_);
    XSync(display, False);
}

void MovingPicture::step() {
    ++step_;
    XCopyArea(connection_.display(), pixmap_, window_, gc_, (step_ % positions) * shift, 0,
              static_cast<unsigned>(width_), static_cast<unsigned>(height_), 0, 0);
    XSync(connection_.display(), False);
}

void MovingPicture::fill(std::uint32_t rgb) {
    XSetForeground(connection_.display(), gc_, rgb);
    XFillRectangle(connection_.display(), window_, gc_, 0, 0, static_cast<unsigned>(width_),
                   static_cast<unsigned>(height_));
    XSync(connection_.display(), False);
}

} // namespace Testing
