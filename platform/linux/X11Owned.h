#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xrandr.h>

#include <memory>
#include <utility>

namespace Platform::Linux {

// Client-side memory that Xlib hands over, released with the matching Xlib call.
struct X11Free {
    void operator()(void* data) const { XFree(data); }
    void operator()(XRRMonitorInfo* monitors) const { XRRFreeMonitors(monitors); }
    void operator()(XRRScreenResources* resources) const { XRRFreeScreenResources(resources); }
    void operator()(XRROutputInfo* output) const { XRRFreeOutputInfo(output); }
    void operator()(XRRCrtcGamma* gamma) const { XRRFreeGamma(gamma); }
    void operator()(XIDeviceInfo* devices) const { XIFreeDeviceInfo(devices); }
};

template <typename T>
using X11Owned = std::unique_ptr<T, X11Free>;

// A server-side resource (damage object, region, window, GC id) destroyed on its connection when
// dropped; drop it before the connection and, where errors may follow, inside an X11ErrorTrap.
template <typename Id, auto destroy>
class X11Resource {
public:
    X11Resource() = default;
    X11Resource(::Display* display, Id id) : display_(display), id_(id) {}
    X11Resource(X11Resource&& other) noexcept : display_(other.display_), id_(std::exchange(other.id_, Id{})) {}
    X11Resource& operator=(X11Resource&& other) noexcept {
        if (this != &other) {
            reset();
            display_ = other.display_;
            id_ = std::exchange(other.id_, Id{});
        }
        return *this;
    }
    ~X11Resource() { reset(); }

    Id get() const { return id_; }
    explicit operator bool() const { return id_ != Id{}; }
    void reset() {
        if (id_ != Id{}) destroy(display_, std::exchange(id_, Id{}));
    }

private:
    ::Display* display_ = nullptr;
    Id id_{};
};

} // namespace Platform::Linux
