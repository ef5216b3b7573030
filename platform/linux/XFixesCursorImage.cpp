#include "platform/linux/XFixesCursorImage.h"

#include "platform/linux/X11ErrorTrap.h"
#include "platform/linux/X11Owned.h"

#include <X11/extensions/Xfixes.h>

namespace Platform {

std::unique_ptr<CursorImage> CursorImage::create(const std::string& displayName, std::string* whyNot) {
    try {
        return std::make_unique<Linux::XFixesCursorImage>(displayName);
    } catch (const Linux::X11Error& error) {
        if (whyNot) *whyNot = error.what();
        return nullptr;
    }
}

namespace Linux {

XFixesCursorImage::XFixesCursorImage(const std::string& displayName) : connection_(X11Connection::open(displayName)) {
    ::Display* display = connection_->display();
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    // The cursor image request came with XFixes 2.
    if (!connection_->hasExtension("XFIXES") || !XFixesQueryExtension(display, &eventBase, &errorBase) ||
        !XFixesQueryVersion(display, &major, &minor) || major < 2) {
        throw X11Error("the X server \"" + connection_->name() + "\" cannot show the pointer's picture (no XFixes 2)");
    }
}

std::optional<CursorImage::Image> XFixesCursorImage::current() {
    if (connection_->isBroken()) return std::nullopt;
    ::Display* display = connection_->display();
    X11ErrorTrap trap(display);
    const X11Owned<::XFixesCursorImage> cursor(XFixesGetCursorImage(display));
    if (!cursor || connection_->isBroken() || cursor->width == 0 || cursor->height == 0) return std::nullopt;

    Image image{.width = cursor->width,
                .height = cursor->height,
                .scale = 1,
                .hotspotX = double(cursor->xhot),
                .hotspotY = double(cursor->yhot),
                .serial = cursor->cursor_serial,
                .pixels = {}};
    const std::size_t count = std::size_t{cursor->width} * cursor->height;
    image.pixels.reserve(count);
    // Xlib widens each 32-bit pixel to an unsigned long.
    for (std::size_t i = 0; i < count; ++i) image.pixels.push_back(static_cast<std::uint32_t>(cursor->pixels[i]));
    return image;
}

} // namespace Linux
} // namespace Platform
