#pragma once

#include "platform/linux/X11Connection.h"
#include "platform/linux/X11ErrorTrap.h"
#include "platform/linux/X11Owned.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Testing {

// Header only, for the X11 tests of several modules.
//
// A window over the whole test screen that holds the keyboard focus and records the key and
// button events that reach it, over a connection of its own; it also watches the raw input of the
// whole server (XInput2) to see which device each event came from.
class X11InputWindow {
public:
    // Throws X11Error when no server answers.
    explicit X11InputWindow(const std::string& displayName);
    ~X11InputWindow();

    Platform::Linux::X11Connection& connection() { return *connection_; }
    ::Display* display() { return connection_->display(); }
    ::Window window() const { return window_; }

    // The next event of `type` (KeyPress, ButtonRelease, ...); events of other types are skipped.
    // Nothing when none arrives within `limit`.
    std::optional<XEvent> next(int type, std::chrono::milliseconds limit = std::chrono::milliseconds(5000));
    // The next key press of a key other than a modifier.
    std::optional<XEvent> nextTypedKey(std::chrono::milliseconds limit = std::chrono::milliseconds(5000));
    // The source devices of the raw key and button presses seen so far, in order; empty when the
    // server has no XInput2.
    const std::vector<int>& rawPressSources() const { return rawPressSources_; }
    bool hasXInput2() const { return xinputOpcode_ >= 0; }

    // The keysym at `level` of `keycode` in the server's keyboard map now.
    unsigned long keysymOf(unsigned keycode, int level = 0);
    // Whether the server has `keycode` down now.
    bool isDown(unsigned keycode);
    // The locked modifiers now.
    unsigned lockedModifiers();
    // Where the server has the pointer now, in root coordinates.
    std::pair<int, int> pointer();
    // Shows `shape` (a cursor font glyph) over the whole screen, where the pointer is.
    void showCursor(unsigned shape);
    // The text the key event types, as a client translates it.
    std::string textOf(XKeyEvent event);

private:
    void read(XEvent& event);

    std::unique_ptr<Platform::Linux::X11Connection> connection_;
    ::Window window_ = 0;
    int xinputOpcode_ = -1;
    std::vector<int> rawPressSources_;
};

inline X11InputWindow::X11InputWindow(const std::string& displayName)
    : connection_(Platform::Linux::X11Connection::open(displayName)) {
    ::Display* display = connection_->display();
    const ::Window root = connection_->root();
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
    window_ = XCreateWindow(display, root, 0, 0, static_cast<unsigned>(XDisplayWidth(display, connection_->screen())),
                            static_cast<unsigned>(XDisplayHeight(display, connection_->screen())), 0, CopyFromParent,
                            InputOnly, nullptr, CWOverrideRedirect | CWEventMask, &attributes);
    XMapRaised(display, window_);
    if (!next(MapNotify)) throw Platform::Linux::X11Error("the test window was not mapped");
    XSetInputFocus(display, window_, RevertToParent, CurrentTime);

    int eventBase = 0;
    int errorBase = 0;
    int opcode = 0;
    int major = 2;
    int minor = 2;
    if (XQueryExtension(display, "XInputExtension", &opcode, &eventBase, &errorBase) &&
        XIQueryVersion(display, &major, &minor) == Success) {
        xinputOpcode_ = opcode;
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawButtonPress);
        XIEventMask mask{.deviceid = XIAllMasterDevices, .mask_len = sizeof bits, .mask = bits};
        XISelectEvents(display, root, &mask, 1);
    }
    XSync(display, False);
}

inline X11InputWindow::~X11InputWindow() {
    Platform::Linux::X11ErrorTrap trap(connection_->display());
    XDestroyWindow(connection_->display(), window_);
}

inline void X11InputWindow::read(XEvent& event) {
    ::Display* display = connection_->display();
    XNextEvent(display, &event);
    if (event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
    if (event.type != GenericEvent || event.xcookie.extension != xinputOpcode_) return;
    if (XGetEventData(display, &event.xcookie)) {
        const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
        rawPressSources_.push_back(raw->sourceid);
        XFreeEventData(display, &event.xcookie);
    }
}

inline std::optional<XEvent> X11InputWindow::next(int type, std::chrono::milliseconds limit) {
    ::Display* display = connection_->display();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        while (XPending(display) > 0) {
            XEvent event;
            read(event);
            if (event.type == type) return event;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd ready{.fd = ConnectionNumber(display), .events = POLLIN, .revents = 0};
        ::poll(&ready, 1, static_cast<int>(left.count()));
    }
}

inline std::optional<XEvent> X11InputWindow::nextTypedKey(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        auto event = next(KeyPress, std::max(left, std::chrono::milliseconds(0)));
        if (!event || !IsModifierKey(XLookupKeysym(&event->xkey, 0))) return event;
    }
}

inline unsigned long X11InputWindow::keysymOf(unsigned keycode, int level) {
    int perKeycode = 0;
    const Platform::Linux::X11Owned<KeySym> symbols(
        XGetKeyboardMapping(connection_->display(), static_cast<KeyCode>(keycode), 1, &perKeycode));
    if (!symbols || level >= perKeycode) return NoSymbol;
    return symbols.get()[level];
}

inline bool X11InputWindow::isDown(unsigned keycode) {
    char keys[32] = {};
    XQueryKeymap(connection_->display(), keys);
    return (static_cast<unsigned char>(keys[keycode / 8]) >> (keycode % 8)) & 1;
}

inline std::pair<int, int> X11InputWindow::pointer() {
    ::Window root = 0;
    ::Window child = 0;
    int x = 0;
    int y = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned mask = 0;
    XQueryPointer(display(), connection_->root(), &root, &child, &x, &y, &windowX, &windowY, &mask);
    return {x, y};
}

inline void X11InputWindow::showCursor(unsigned shape) {
    const Cursor cursor = XCreateFontCursor(display(), shape);
    XDefineCursor(display(), window_, cursor);
    XFreeCursor(display(), cursor);
    XSync(display(), False);
}

inline unsigned X11InputWindow::lockedModifiers() {
    XkbStateRec state{};
    XkbGetState(connection_->display(), XkbUseCoreKbd, &state);
    return state.locked_mods;
}

inline std::string X11InputWindow::textOf(XKeyEvent event) {
    char text[32] = {};
    KeySym keysym = NoSymbol;
    const int length = XLookupString(&event, text, sizeof text, &keysym, nullptr);
    return std::string(text, static_cast<std::size_t>(std::max(length, 0)));
}

} // namespace Testing
