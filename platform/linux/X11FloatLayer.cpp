#include "platform/linux/X11FloatLayer.h"

#include "platform/linux/EscapeChord.h"
#include "platform/linux/X11ErrorTrap.h"
#include "platform/linux/X11Owned.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <set>

namespace Platform::Linux {
namespace {

// The devices of injected input: "Virtual core XTEST pointer" and its keyboard.
bool isInjected(const char* name) {
    const std::string text = name ? name : "";
    return text.ends_with(" XTEST pointer") || text.ends_with(" XTEST keyboard");
}

EscapeChord::Key keyOf(::Display* display, int keycode) {
    switch (XkbKeycodeToKeysym(display, static_cast<KeyCode>(keycode), 0, 0)) {
        case XK_Control_L:
        case XK_Control_R:
            return EscapeChord::Key::control;
        case XK_Alt_L:
        case XK_Alt_R:
        case XK_Meta_L:
        case XK_Meta_R:
            return EscapeChord::Key::alt;
        case XK_Super_L:
        case XK_Super_R:
            return EscapeChord::Key::super;
        case XK_Escape:
            return EscapeChord::Key::escape;
        default:
            return EscapeChord::Key::other;
    }
}

bool changeAttachment(::Display* display, int device, std::optional<int> master) {
    XIAnyHierarchyChangeInfo change{};
    if (master) {
        change.attach = {XIAttachSlave, device, *master};
    } else {
        change.detach = {XIDetachSlave, device};
    }
    X11ErrorTrap trap(display);
    XIChangeHierarchy(display, &change, 1);
    return trap.sync();
}

} // namespace

std::optional<std::string> X11FloatLayer::take(std::function<void()> onChord) {
    if (holds()) return std::nullopt;
    std::unique_ptr<X11Connection> control;
    try {
        control = X11Connection::open(displayName_);
        events_ = X11Connection::open(displayName_);
    } catch (const X11Error& error) {
        return std::string(error.what());
    }
    ::Display* display = events_->display();
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &extensionOpcode_, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success || major < 2 || (major == 2 && minor < 2)) {
        events_.reset();
        return std::string("the X server has no XInput 2.2");
    }
    // Everything that happens from now on reaches the reader, also the devices floated below.
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    for (const int type : {XI_RawKeyPress, XI_RawKeyRelease, XI_RawButtonPress, XI_RawButtonRelease, XI_RawMotion,
                           XI_HierarchyChanged}) {
        XISetMask(bits, type);
    }
    XIEventMask mask{XIAllDevices, sizeof bits, bits};
    XISelectEvents(display, events_->root(), &mask, 1);
    XSync(display, False);

    dropped_ = 0;
    passed_ = 0;
    watchdog_ = std::make_unique<RestoreWatchdog>(displayName_);
    {
        const std::lock_guard guard(lock_);
        floating_ = true;
    }
    if (auto failure = floatDevices(control->display())) {
        reattach(control->display());
        watchdog_.reset();
        events_.reset();
        return failure;
    }
    onChord_ = std::move(onChord);
    if (::pipe2(wake_, O_CLOEXEC) != 0) {
        reattach(control->display());
        watchdog_.reset();
        events_.reset();
        return std::string("could not make a pipe");
    }
    reader_ = std::thread([this] { read(); });
    return std::nullopt;
}

std::optional<std::string> X11FloatLayer::floatDevices(::Display* display) {
    int count = 0;
    const X11Owned<XIDeviceInfo> devices(XIQueryDevice(display, XIAllDevices, &count));
    const std::lock_guard guard(lock_);
    if (!floating_) return std::nullopt;
    for (int i = 0; devices && i < count; ++i) {
        const XIDeviceInfo& device = devices.get()[i];
        if ((device.use != XISlaveKeyboard && device.use != XISlavePointer) || isInjected(device.name)) continue;
        if (floated_.contains(device.deviceid)) continue;
        // The watchdog first: a float it does not know of could outlive us.
        if (!watchdog_->guardAttachment(device.deviceid, device.attachment)) {
            return std::string("could not start the watchdog that gives the devices back");
        }
        if (!changeAttachment(display, device.deviceid, std::nullopt)) {
            return "could not take \"" + std::string(device.name) + "\"";
        }
        floated_.emplace(device.deviceid, device.attachment);
    }
    return std::nullopt;
}

void X11FloatLayer::read() {
    ::Display* display = events_->display();
    EscapeChord chord;
    std::set<int> injected;
    const auto learnInjected = [&] {
        int count = 0;
        const X11Owned<XIDeviceInfo> devices(XIQueryDevice(display, XIAllDevices, &count));
        injected.clear();
        for (int i = 0; devices && i < count; ++i) {
            if (isInjected(devices.get()[i].name)) injected.insert(devices.get()[i].deviceid);
        }
    };
    learnInjected();
    pollfd watched[2] = {{wake_[0], POLLIN, 0}, {ConnectionNumber(display), POLLIN, 0}};
    while (!events_->isBroken()) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            XGenericEventCookie& cookie = event.xcookie;
            if (cookie.type != GenericEvent || cookie.extension != extensionOpcode_ ||
                !XGetEventData(display, &cookie)) {
                continue;
            }
            if (cookie.evtype == XI_HierarchyChanged) {
                // A device plugged in meanwhile is floated too.
                floatDevices(display);
                learnInjected();
            } else {
                const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
                bool isFloated = false;
                {
                    const std::lock_guard guard(lock_);
                    isFloated = floated_.contains(raw->sourceid);
                }
                if (injected.contains(raw->sourceid)) {
                    ++passed_;
                } else if (isFloated) {
                    ++dropped_;
                    const bool isKey = cookie.evtype == XI_RawKeyPress || cookie.evtype == XI_RawKeyRelease;
                    if (isKey && !(raw->flags & XIKeyRepeat) &&
                        chord.changed(keyOf(display, raw->detail), cookie.evtype == XI_RawKeyPress) && onChord_) {
                        onChord_();
                    }
                }
            }
            XFreeEventData(display, &cookie);
        }
        if (::poll(watched, 2, -1) < 0 && errno != EINTR) return;
        if (watched[0].revents != 0) return;
    }
}

void X11FloatLayer::release() {
    if (!holds()) return;
    ::close(wake_[1]);
    reader_.join();
    ::close(wake_[0]);
    wake_[0] = wake_[1] = -1;
    events_.reset();
    onChord_ = nullptr;
    reattachFromAnyThread();
    const std::lock_guard guard(lock_);
    watchdog_.reset();
}

void X11FloatLayer::reattachFromAnyThread() {
    try {
        const auto connection = X11Connection::open(displayName_);
        reattach(connection->display());
    } catch (const X11Error&) {
        // The server is gone, and the floats with it.
    }
}

void X11FloatLayer::reattach(::Display* display) {
    const std::lock_guard guard(lock_);
    floating_ = false;
    for (const auto& [device, master] : floated_) changeAttachment(display, device, master);
    floated_.clear();
    if (watchdog_) watchdog_->forget();
}

} // namespace Platform::Linux
