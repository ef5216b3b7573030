#include "platform/linux/XTestEvents.h"

#include "platform/linux/X11ErrorTrap.h"
#include "platform/linux/X11KeySymbols.h"
#include "platform/linux/X11Monitors.h"
#include "platform/linux/X11Owned.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cmath>

namespace Platform {

std::unique_ptr<Events> Events::create(TessaloyBase::SerialQueue& queue, const std::string& displayName,
                                       std::string* whyNot) {
    try {
        return std::make_unique<Linux::XTestEvents>(queue, displayName);
    } catch (const Linux::X11Error& error) {
        if (whyNot) *whyNot = error.what();
        return nullptr;
    }
}

namespace Linux {
namespace {

using Modifier = X11KeySymbols::Modifier;
using Flags = Events::Flags;

// The modifiers matched around events, in the order of `modifierKeycodes_`.
constexpr std::array<Modifier, 3> matchedModifiers{Modifier::shift, Modifier::control, Modifier::alt};
constexpr std::array<::KeySym, 3> modifierKeysyms{XK_Shift_L, XK_Control_L, XK_Alt_L};

bool wants(Flags flags, Modifier modifier) {
    switch (modifier) {
        case Modifier::shift:
            return flags.contains(Flags::shift);
        case Modifier::control:
            // Command is Control here.
            return flags.contains(Flags::control) || flags.contains(Flags::command);
        case Modifier::alt:
            return flags.contains(Flags::option);
        default:
            return false;
    }
}

// X coordinates are 16-bit.
int coordinate(double value) { return static_cast<int>(std::lround(std::clamp(value, -32768.0, 32767.0))); }

// X buttons: 1 left, 2 middle, 3 right; the wheel is 4 up, 5 down, 6 left, 7 right.
unsigned xButton(int button) {
    switch (button) {
        case 0:
            return 1;
        case 1:
            return 3;
        default:
            return 2;
    }
}

} // namespace

XTestEvents::XTestEvents(TessaloyBase::SerialQueue& queue, const std::string& displayName,
                         std::chrono::milliseconds mappingHold)
    : queue_(queue),
      connection_(X11Connection::open(displayName)),
      mappingHold_(mappingHold),
      restoreTimer_(std::make_unique<asio::steady_timer>(queue.executor())) {
    ::Display* display = connection_->display();
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!connection_->hasExtension("XTEST") || !XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        throw X11Error("the X server \"" + connection_->name() + "\" takes no posted input (no XTest)");
    }
    int xkbOpcode = 0;
    int xkbMajor = XkbMajorVersion;
    int xkbMinor = XkbMinorVersion;
    XkbQueryExtension(display, &xkbOpcode, &eventBase, &errorBase, &xkbMajor, &xkbMinor);
    for (std::size_t i = 0; i < modifierKeysyms.size(); ++i) {
        modifierKeycodes_[i] = XKeysymToKeycode(display, modifierKeysyms[i]);
    }
    injectedDevices_ = findInjectedDevices(*connection_);
    // Changes of the layout: the root window's size (and RandR monitors, announced the same way),
    // and RandR's screen, CRTC and output notices.
    XSelectInput(display, connection_->root(), StructureNotifyMask);
    int randrErrorBase = 0;
    if (connection_->hasExtension("RANDR") && XRRQueryExtension(display, &randrEventBase_, &randrErrorBase)) {
        XRRSelectInput(display, connection_->root(),
                       RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    } else {
        randrEventBase_ = -1;
    }
    if (connection_->isBroken()) throw X11Error("lost the connection to the X server \"" + connection_->name() + "\"");
}

XTestEvents::~XTestEvents() {
    queue_.sync([this] {
        alive_.reset();
        restoreTimer_.reset();
        if (connection_->isBroken()) return;
        X11ErrorTrap trap(connection_->display());
        releaseEverything();
        restoreKeyboardMapping();
    });
}

std::vector<int> XTestEvents::findInjectedDevices(X11Connection& connection) {
    ::Display* display = connection.display();
    int opcode = 0;
    int eventBase = 0;
    int errorBase = 0;
    if (!connection.hasExtension("XInputExtension") ||
        !XQueryExtension(display, "XInputExtension", &opcode, &eventBase, &errorBase)) {
        return {};
    }
    int major = 2;
    int minor = 0;
    X11ErrorTrap trap(display);
    if (XIQueryVersion(display, &major, &minor) != Success || major < 2) return {};
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
    if (!devices) return {};
    // XTest posts through one virtual slave pointer and keyboard attached to each master, named
    // after the extension.
    std::vector<int> pointers;
    std::vector<int> keyboards;
    for (int i = 0; i < count; ++i) {
        const XIDeviceInfo& device = devices[i];
        const bool isSlave = device.use == XISlavePointer || device.use == XISlaveKeyboard;
        if (!isSlave || !device.name || std::string_view(device.name).find("XTEST") == std::string_view::npos) continue;
        (device.use == XISlavePointer ? pointers : keyboards).push_back(device.deviceid);
    }
    XIFreeDeviceInfo(devices);
    pointers.insert(pointers.end(), keyboards.begin(), keyboards.end());
    return pointers;
}

std::optional<Events::Point> XTestEvents::pointerLocation() {
    queue_.assertCurrent();
    if (connection_->isBroken()) return std::nullopt;
    ::Window root = None;
    ::Window child = None;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned mask = 0;
    // False when the pointer is on another screen of the server.
    const Bool onScreen = XQueryPointer(connection_->display(), connection_->root(), &root, &child, &rootX, &rootY,
                                        &windowX, &windowY, &mask);
    if (!onScreen || connection_->isBroken()) return std::nullopt;
    return Point{double(rootX), double(rootY)};
}

std::optional<std::vector<Events::Rect>> XTestEvents::activeDisplayBounds() {
    queue_.assertCurrent();
    if (connection_->isBroken()) return std::nullopt;
    readEvents();
    if (displayBounds_) return displayBounds_;
    std::vector<ShareableDisplay> displays;
    try {
        X11ErrorTrap trap(connection_->display());
        displays = X11Monitors::list(*connection_);
        if (!trap.sync()) return std::nullopt;
    } catch (const X11Error&) {
        return std::nullopt;
    }
    std::vector<Rect> bounds;
    bounds.reserve(displays.size());
    for (const auto& display : displays) {
        bounds.push_back({double(display.bounds.x), double(display.bounds.y), double(display.bounds.width),
                          double(display.bounds.height)});
    }
    displayBounds_ = std::move(bounds);
    return displayBounds_;
}

bool XTestEvents::postMouse(const MouseEvent& event) {
    queue_.assertCurrent();
    if (connection_->isBroken()) return false;
    readEvents();
    ::Display* display = connection_->display();
    using Type = MouseEventType;
    const auto change = matchModifiers(event.flags, std::nullopt);
    switch (event.type) {
        case Type::mouseMoved:
        case Type::leftMouseDragged:
        case Type::rightMouseDragged:
        case Type::otherMouseDragged:
            // A drag is a move while a button is down; X needs nothing more to tell it apart.
            XTestFakeMotionEvent(display, connection_->screen(), coordinate(event.position.x),
                                 coordinate(event.position.y), CurrentTime);
            break;
        case Type::leftMouseDown:
        case Type::rightMouseDown:
        case Type::otherMouseDown: {
            // X has no click count: clients count clicks themselves from the time between presses.
            const unsigned button = xButton(event.button);
            XTestFakeButtonEvent(display, button, True, CurrentTime);
            heldButtons_.insert(button);
            break;
        }
        case Type::leftMouseUp:
        case Type::rightMouseUp:
        case Type::otherMouseUp: {
            const unsigned button = xButton(event.button);
            XTestFakeButtonEvent(display, button, False, CurrentTime);
            heldButtons_.erase(button);
            break;
        }
    }
    undo(change);
    return finish();
}

bool XTestEvents::postScroll(std::int32_t vertical, std::int32_t horizontal, Flags flags) {
    queue_.assertCurrent();
    if (connection_->isBroken()) return false;
    readEvents();
    const auto change = matchModifiers(flags, std::nullopt);
    const auto clicks = [this](std::int32_t count, unsigned positive, unsigned negative) {
        const unsigned button = count > 0 ? positive : negative;
        for (std::int64_t i = 0; i < std::abs(std::int64_t{count}); ++i) fakeClick(button);
    };
    clicks(vertical, 4, 5);
    clicks(horizontal, 6, 7);
    undo(change);
    return finish();
}

bool XTestEvents::postKey(std::uint16_t code, bool isDown, Flags flags) {
    queue_.assertCurrent();
    if (connection_->isBroken()) return false;
    readEvents();
    if (!isDown) {
        const auto held = deviceKeys_.find(code);
        // Nothing to let go of: the press never reached X.
        if (held == deviceKeys_.end()) return false;
        const unsigned keycode = held->second;
        deviceKeys_.erase(held);
        const auto change = matchModifiers(flags, code);
        if (--keyHolds_[keycode] == 0) {
            keyHolds_.erase(keycode);
            fakeKey(keycode, false);
        }
        undo(change);
        return finish();
    }

    const ::KeySym keysym = X11KeySymbols::forKeyCode(code);
    if (keysym == NoSymbol) return false;
    const unsigned keycode = XKeysymToKeycode(connection_->display(), keysym);
    if (keycode == 0) return false;
    // Caps Lock's own key toggles the lock; the next key press brings the lock in line again.
    if (X11KeySymbols::modifierOf(code) != Modifier::capsLock) setCapsLock(flags.contains(Flags::capsLock));
    const auto change = matchModifiers(flags, code);
    if (deviceKeys_.contains(code)) {
        // Pressed again while held: a repeat.
        fakeKey(keycode, true);
    } else {
        deviceKeys_.emplace(code, keycode);
        if (keyHolds_[keycode]++ == 0) fakeKey(keycode, true);
    }
    undo(change);
    return finish();
}

bool XTestEvents::postCharacter(std::u16string_view units) {
    queue_.assertCurrent();
    if (connection_->isBroken()) return false;
    readEvents();
    std::vector<::KeySym> keysyms;
    for (const char32_t scalar : X11KeySymbols::scalarsOf(units)) {
        if (const ::KeySym keysym = X11KeySymbols::forScalar(scalar); keysym != NoSymbol) keysyms.push_back(keysym);
    }
    if (keysyms.empty()) return false;

    ::Display* display = connection_->display();
    XkbStateRec state{};
    const bool hasState = XkbGetState(display, XkbUseCoreKbd, &state) == Success;
    const int group = hasState ? state.group : 0;
    // The character as it stands: Caps Lock must not change its case.
    const bool wasLocked = hasState && (state.locked_mods & LockMask) != 0;
    if (wasLocked) XkbLockModifiers(display, XkbUseCoreKbd, LockMask, 0);
    bool typed = false;
    {
        X11ErrorTrap trap(display);
        // A cluster of several scalars (an emoji sequence) is one keystroke each: an X key event
        // carries one symbol.
        for (const ::KeySym keysym : keysyms) {
            const auto key = keycodeTyping(keysym, group);
            if (!key) continue;
            const auto change = matchModifiers(key->second ? Flags::shift : Flags{}, std::nullopt);
            fakeKey(key->first, true);
            fakeKey(key->first, false);
            undo(change);
            typed = true;
        }
    }
    if (wasLocked) XkbLockModifiers(display, XkbUseCoreKbd, LockMask, LockMask);
    if (!bindings_.empty()) scheduleRestore();
    return finish() && typed;
}

void XTestEvents::restoreKeyboardMapping() {
    queue_.assertCurrent();
    if (bindings_.empty()) return;
    if (!connection_->isBroken()) {
        ::Display* display = connection_->display();
        X11ErrorTrap trap(display);
        for (const Binding& binding : bindings_) {
            std::vector<::KeySym> original(binding.original.begin(), binding.original.end());
            XChangeKeyboardMapping(display, static_cast<int>(binding.keycode), static_cast<int>(original.size()),
                                   original.data(), 1);
        }
    }
    bindings_.clear();
}

void XTestEvents::readEvents() {
    // Besides the layout notices, mapping notices arrive for every client: they keep Xlib's copy of
    // the keyboard map current and must not pile up.
    ::Display* display = connection_->display();
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
        } else if (event.type == ConfigureNotify ||
                   (randrEventBase_ >= 0 && (event.type == randrEventBase_ + RRScreenChangeNotify ||
                                             event.type == randrEventBase_ + RRNotify))) {
            displayBounds_.reset();
        }
    }
}

void XTestEvents::fakeKey(unsigned keycode, bool isDown) {
    XTestFakeKeyEvent(connection_->display(), keycode, isDown ? True : False, CurrentTime);
}

void XTestEvents::fakeClick(unsigned button) {
    XTestFakeButtonEvent(connection_->display(), button, True, CurrentTime);
    XTestFakeButtonEvent(connection_->display(), button, False, CurrentTime);
}

bool XTestEvents::finish() {
    XFlush(connection_->display());
    return !connection_->isBroken();
}

XTestEvents::ModifierChange XTestEvents::matchModifiers(Flags flags, std::optional<std::uint16_t> eventCode) {
    ModifierChange change;
    for (std::size_t i = 0; i < matchedModifiers.size(); ++i) {
        const Modifier modifier = matchedModifiers[i];
        // The keys of this modifier that the device holds, besides the key of the event itself.
        std::vector<unsigned> holding;
        for (const auto& [code, keycode] : deviceKeys_) {
            if (code == eventCode || X11KeySymbols::modifierOf(code) != modifier) continue;
            if (std::find(holding.begin(), holding.end(), keycode) == holding.end()) holding.push_back(keycode);
        }
        const bool eventIsThisModifier = eventCode && X11KeySymbols::modifierOf(*eventCode) == modifier;
        if (wants(flags, modifier)) {
            if (holding.empty() && !eventIsThisModifier && modifierKeycodes_[i] != 0 &&
                !keyHolds_.contains(modifierKeycodes_[i])) {
                fakeKey(modifierKeycodes_[i], true);
                change.pressed.push_back(modifierKeycodes_[i]);
            }
        } else {
            for (const unsigned keycode : holding) {
                fakeKey(keycode, false);
                change.released.push_back(keycode);
            }
        }
    }
    return change;
}

void XTestEvents::undo(const ModifierChange& change) {
    for (auto keycode = change.pressed.rbegin(); keycode != change.pressed.rend(); ++keycode) fakeKey(*keycode, false);
    for (const unsigned keycode : change.released) fakeKey(keycode, true);
}

bool XTestEvents::isCapsLocked() {
    XkbStateRec state{};
    return XkbGetState(connection_->display(), XkbUseCoreKbd, &state) == Success && (state.locked_mods & LockMask);
}

void XTestEvents::setCapsLock(bool on) {
    if (isCapsLocked() == on) return;
    XkbLockModifiers(connection_->display(), XkbUseCoreKbd, LockMask, on ? LockMask : 0);
}

std::optional<std::pair<unsigned, bool>> XTestEvents::keycodeTyping(unsigned long keysym, int group) {
    for (const Binding& binding : bindings_) {
        if (binding.keysym == keysym) return std::pair{binding.keycode, false};
    }
    ::Display* display = connection_->display();
    const unsigned keycode = XKeysymToKeycode(display, keysym);
    // A key the device holds cannot type without letting go of it.
    if (keycode != 0 && !keyHolds_.contains(keycode)) {
        const auto code = static_cast<::KeyCode>(keycode);
        if (XkbKeycodeToKeysym(display, code, group, 0) == keysym) return std::pair{keycode, false};
        if (XkbKeycodeToKeysym(display, code, group, 1) == keysym) return std::pair{keycode, true};
    }
    const auto spare = borrowKeycode(keysym);
    if (!spare) return std::nullopt;
    return std::pair{*spare, false};
}

std::optional<unsigned> XTestEvents::borrowKeycode(unsigned long keysym) {
    ::Display* display = connection_->display();
    int minimum = 0;
    int maximum = 0;
    XDisplayKeycodes(display, &minimum, &maximum);
    int perKeycode = 0;
    const X11Owned<::KeySym> map(
        XGetKeyboardMapping(display, static_cast<::KeyCode>(minimum), maximum - minimum + 1, &perKeycode));
    if (!map || perKeycode <= 0) return std::nullopt;
    const auto symbolsOf = [&](int keycode) {
        const ::KeySym* first = map.get() + static_cast<std::size_t>(keycode - minimum) * std::size_t(perKeycode);
        return std::vector<unsigned long>(first, first + perKeycode);
    };

    std::optional<unsigned> spare;
    // From the top: the low keycodes are the ones real keyboards have.
    for (int keycode = maximum; keycode >= minimum && !spare; --keycode) {
        const auto symbols = symbolsOf(keycode);
        const bool empty = std::all_of(symbols.begin(), symbols.end(), [](auto symbol) { return symbol == NoSymbol; });
        if (empty && !keyHolds_.contains(unsigned(keycode))) spare = unsigned(keycode);
    }
    std::vector<unsigned long> original;
    if (spare) {
        original = symbolsOf(int(*spare));
    } else if (!bindings_.empty()) {
        // Every spare keycode is lent already: take back the one lent longest ago.
        spare = bindings_.front().keycode;
        original = std::move(bindings_.front().original);
        bindings_.erase(bindings_.begin());
    } else {
        return std::nullopt;
    }
    // Both levels, so that a held Shift cannot change the symbol.
    ::KeySym symbols[2] = {keysym, keysym};
    XChangeKeyboardMapping(display, static_cast<int>(*spare), 2, symbols, 1);
    bindings_.push_back({keysym, *spare, std::move(original)});
    return spare;
}

void XTestEvents::scheduleRestore() {
    restoreTimer_->expires_after(mappingHold_);
    restoreTimer_->async_wait([this, alive = std::weak_ptr<bool>(alive_)](const std::error_code& error) {
        if (error || alive.expired()) return;
        restoreKeyboardMapping();
        XFlush(connection_->display());
    });
}

void XTestEvents::releaseEverything() {
    for (const auto& [keycode, holds] : keyHolds_) fakeKey(keycode, false);
    keyHolds_.clear();
    deviceKeys_.clear();
    for (const unsigned button : heldButtons_) XTestFakeButtonEvent(connection_->display(), button, False, CurrentTime);
    heldButtons_.clear();
}

} // namespace Linux
} // namespace Platform
