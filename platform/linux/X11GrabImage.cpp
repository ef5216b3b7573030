#include "platform/linux/X11GrabImage.h"

#include "platform/linux/X11ErrorTrap.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace Platform::Linux {

void X11GrabImage::checkScreenFormat(X11Connection& connection) {
    ::Display* display = connection.display();
    const Visual* visual = XDefaultVisual(display, connection.screen());
    const int depth = XDefaultDepth(display, connection.screen());
    bool fourBytes = false;
    int formats = 0;
    if (XPixmapFormatValues* list = XListPixmapFormats(display, &formats)) {
        for (int i = 0; i < formats; ++i) {
            if (list[i].depth == depth) fourBytes = list[i].bits_per_pixel == 32;
        }
        XFree(list);
    }
    const bool suits = depth == 24 && fourBytes && XImageByteOrder(display) == LSBFirst &&
                       visual->red_mask == 0xff0000 && visual->green_mask == 0x00ff00 && visual->blue_mask == 0x0000ff;
    if (!suits) {
        throw X11Error("the screen's pixel format is not supported (depth " + std::to_string(depth) +
                       "; 24-bit colour in 32-bit little-endian pixels is needed)");
    }
}

std::unique_ptr<X11GrabImage> X11GrabImage::createShared(X11Connection& connection, int width, int height,
                                                         std::string& whyNot) {
    ::Display* display = connection.display();
    if (!connection.hasExtension("MIT-SHM") || !XShmQueryExtension(display)) {
        whyNot = "the X server offers no MIT-SHM";
        return nullptr;
    }
    // Xlib keeps a pointer to the segment's description in the image, so it lives in the object.
    std::unique_ptr<X11GrabImage> result(new X11GrabImage(connection, true));
    XShmSegmentInfo& segment = result->segment_;
    XImage* image = XShmCreateImage(display, XDefaultVisual(display, connection.screen()),
                                    static_cast<unsigned>(XDefaultDepth(display, connection.screen())), ZPixmap,
                                    nullptr, &segment, static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (!image) {
        whyNot = "XShmCreateImage failed";
        return nullptr;
    }
    result->image_ = image;
    const auto bytes = static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(image->height);
    segment.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (segment.shmid < 0) {
        whyNot = std::string("shmget: ") + std::strerror(errno);
        return nullptr;
    }
    void* address = shmat(segment.shmid, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        whyNot = std::string("shmat: ") + std::strerror(errno);
        shmctl(segment.shmid, IPC_RMID, nullptr);
        return nullptr;
    }
    segment.shmaddr = static_cast<char*>(address);
    segment.readOnly = False;
    image->data = segment.shmaddr;

    X11ErrorTrap trap(display);
    const bool attached = XShmAttach(display, &segment) && trap.sync();
    // Marked for removal now, the segment vanishes once both sides detach, even if we crash.
    shmctl(segment.shmid, IPC_RMID, nullptr);
    if (!attached) {
        whyNot = trap.failed() ? "the X server cannot attach shared memory: " + trap.errorText()
                               : "the X server cannot attach shared memory";
        return nullptr;
    }
    result->attached_ = true;
    return result;
}

std::unique_ptr<X11GrabImage> X11GrabImage::createPlain(X11Connection& connection, int width, int height) {
    ::Display* display = connection.display();
    const int depth = XDefaultDepth(display, connection.screen());
    std::unique_ptr<X11GrabImage> result(new X11GrabImage(connection, false));
    XImage* image =
        XCreateImage(display, XDefaultVisual(display, connection.screen()), static_cast<unsigned>(depth), ZPixmap, 0,
                     nullptr, static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    if (!image) throw X11Error("XCreateImage failed");
    result->image_ = image;
    const auto bytes = static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(image->height);
    image->data = static_cast<char*>(std::calloc(bytes, 1));
    if (!image->data) throw X11Error("out of memory for a " + std::to_string(bytes) + "-byte picture");
    return result;
}

X11GrabImage::X11GrabImage(X11Connection& connection, bool shared) : connection_(connection), shared_(shared) {}

X11GrabImage::~X11GrabImage() {
    if (attached_) {
        X11ErrorTrap trap(connection_.display());
        XShmDetach(connection_.display(), &segment_);
    }
    if (segment_.shmaddr) shmdt(segment_.shmaddr);
    if (!image_) return;
    if (!shared_) std::free(image_->data);
    // Xlib would free the data too, and the segment is not its to free.
    image_->data = nullptr;
    XDestroyImage(image_);
}

bool X11GrabImage::grab(int x, int y) {
    ::Display* display = connection_.display();
    if (shared_) return XShmGetImage(display, connection_.root(), image_, x, y, AllPlanes);
    return XGetSubImage(display, connection_.root(), x, y, static_cast<unsigned>(image_->width),
                        static_cast<unsigned>(image_->height), AllPlanes, ZPixmap, image_, 0, 0) != nullptr;
}

} // namespace Platform::Linux
