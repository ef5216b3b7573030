#pragma once

#include "platform/linux/X11Connection.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace Platform::Linux {

// A client-side picture of one rectangle of the screen, refilled in place by `grab`. It is read
// either through a memory segment shared with the server (MIT-SHM) or, where the server cannot
// share memory, over the connection into a buffer of our own. Pixels are 32 bits, B G R X in
// memory. Use on the connection's thread; destroy before the connection.
class X11GrabImage {
public:
    // Throws X11Error when the screen's pixels are not 24-bit colour in 32-bit little-endian words.
    static void checkScreenFormat(X11Connection& connection);

    // Returns nullptr when the server offers no MIT-SHM or cannot attach our segment, with the
    // reason in `whyNot`.
    static std::unique_ptr<X11GrabImage> createShared(X11Connection& connection, int width, int height,
                                                      std::string& whyNot);
    static std::unique_ptr<X11GrabImage> createPlain(X11Connection& connection, int width, int height);

    ~X11GrabImage();
    X11GrabImage(const X11GrabImage&) = delete;
    X11GrabImage& operator=(const X11GrabImage&) = delete;

    // Reads the root window's rectangle with its top-left at (x, y) and this picture's size. Returns
    // false when the server refused; run it inside an X11ErrorTrap to learn why.
    bool grab(int x, int y);

    std::uint8_t* pixels() const { return reinterpret_cast<std::uint8_t*>(image_->data); }
    std::size_t bytesPerRow() const { return static_cast<std::size_t>(image_->bytes_per_line); }
    int width() const { return image_->width; }
    int height() const { return image_->height; }
    bool isShared() const { return shared_; }

private:
    X11GrabImage(X11Connection& connection, bool shared);

    X11Connection& connection_;
    XImage* image_ = nullptr;
    bool shared_;
    XShmSegmentInfo segment_{};
    bool attached_ = false;
};

} // namespace Platform::Linux
