// Qt before Xlib, whose macros (Bool, Status) break Qt's headers.
#include <QMetaObject>
#include <QSocketNotifier>

#include "platform/linux/X11InputLock.h"

#include "platform/linux/X11ErrorTrap.h"
#include "platform/linux/X11Owned.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <utility>

namespace Platform {

std::unique_ptr<InputLock> InputLock::create(const std::string& displayName) {
    return std::make_unique<Linux::X11InputLock>(displayName);
}

namespace Linux {
namespace {

// The devices of injected input: "Virtual core XTEST pointer" and its keyboard.
bool isInjected(const std::string& name) {
    return name.ends_with(" XTEST pointer") || name.ends_with(" XTEST keyboard");
}

const char* grabFailure(int status) {
    switch (status) {
        case AlreadyGrabbed:
            return "another program holds it";
        case GrabFrozen:
            return "another program froze it";
        case GrabNotViewable:
            return "the screen is not viewable";
        default:
            return "the server refused";
    }
}

} // namespace

X11InputLock::X11InputLock(std::string displayName) : displayName_(std::move(displayName)) {}

X11InputLock::~X11InputLock() { unlock(); }

bool X11InputLock::lock(std::function<void()> onEscape) {
    if (connection_) return true;
    try {
        connection_ = X11Connection::open(displayName_);
    } catch (const X11Error& error) {
        refusal_ = error.what();
        return false;
    }
    if (auto failure = grabDevices()) {
        refusal_ = std::move(failure);
        unlock();
        return false;
    }
    refusal_.reset();
    onEscape_ = std::move(onEscape);
    heldKeycodes_.clear();
    notifier_ = std::make_unique<QSocketNotifier>(ConnectionNumber(connection_->display()), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readEvents(); });
    // Events read while grabbing wait in Xlib's queue, where the notifier cannot see them.
    readEvents();
    return true;
}

std::optional<std::string> X11InputLock::grabDevices() {
    ::Display* display = connection_->display();
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 0;
    if (!XQueryExtension(display, "XInputExtension", &extensionOpcode_, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success) {
        return "the X server has no XInput 2";
    }
    int count = 0;
    const X11Owned<XIDeviceInfo> devices(XIQueryDevice(display, XIAllDevices, &count));
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_KeyPress);
    XISetMask(bits, XI_KeyRelease);
    for (int i = 0; devices && i < count; ++i) {
        const XIDeviceInfo& device = devices.get()[i];
        const std::string name = device.name ? device.name : "";
        // Floating devices too: one floats while another program grabs it, and would come back to
        // the session when that program lets go.
        const bool physical =
            device.use == XISlaveKeyboard || device.use == XISlavePointer || device.use == XIFloatingSlave;
        if (!physical || isInjected(name)) continue;
        XIEventMask mask{device.deviceid, sizeof bits, bits};
        X11ErrorTrap trap(display);
        const int status = XIGrabDevice(display, device.deviceid, connection_->root(), CurrentTime, None,
                                        XIGrabModeAsync, XIGrabModeAsync, False, &mask);
        if (!trap.sync() || status != GrabSuccess) {
            return "could not take \"" + name + "\": " + (trap.failed() ? trap.errorText() : grabFailure(status));
        }
        grabbed_.push_back(device.deviceid);
    }
    return std::nullopt;
}

void X11InputLock::unlock() {
    if (!connection_) return;
    notifier_.reset();
    {
        X11ErrorTrap trap(connection_->display());
        for (const int device : grabbed_) XIUngrabDevice(connection_->display(), device, CurrentTime);
    }
    grabbed_.clear();
    connection_.reset();
    onEscape_ = nullptr;
}

void X11InputLock::readEvents() {
    if (!connection_) return;
    ::Display* display = connection_->display();
    while (!connection_->isBroken() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        XGenericEventCookie& cookie = event.xcookie;
        if (cookie.type != GenericEvent || cookie.extension != extensionOpcode_ || !XGetEventData(display, &cookie)) {
            continue;
        }
        if (cookie.evtype == XI_KeyPress || cookie.evtype == XI_KeyRelease) {
            const auto* key = static_cast<const XIDeviceEvent*>(cookie.data);
            keyChanged(key->detail, cookie.evtype == XI_KeyPress, (key->flags & XIKeyRepeat) != 0);
        }
        XFreeEventData(display, &cookie);
    }
}

void X11InputLock::keyChanged(int keycode, bool isDown, bool isRepeat) {
    if (!isDown) {
        heldKeycodes_.erase(keycode);
        return;
    }
    heldKeycodes_.insert(keycode);
    const KeySym key = XkbKeycodeToKeysym(connection_->display(), static_cast<KeyCode>(keycode), 0, 0);
    if (key != XK_Escape || isRepeat || !chordHeld() || !onEscape_) return;
    // Later, on the main thread's loop; dropped when the lock goes first.
    QMetaObject::invokeMethod(
        notifier_.get(), [handler = onEscape_] { handler(); }, Qt::QueuedConnection);
}

bool X11InputLock::chordHeld() const {
    bool control = false;
    bool alt = false;
    bool super = false;
    for (const int keycode : heldKeycodes_) {
        switch (XkbKeycodeToKeysym(connection_->display(), static_cast<KeyCode>(keycode), 0, 0)) {
            case XK_Control_L:
            case XK_Control_R:
                control = true;
                break;
            case XK_Alt_L:
            case XK_Alt_R:
            case XK_Meta_L:
            case XK_Meta_R:
                alt = true;
                break;
            case XK_Super_L:
            case XK_Super_R:
                super = true;
                break;
            default:
                break;
        }
    }
    return control && alt && super;
}

} // namespace Linux
} // namespace Platform
