#pragma once

#include "base/SerialQueue.h"
#include "core/InputEvent.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Platform {

// Posts keyboard and mouse events into the desktop's event stream, one at a time, as if a person
// used a keyboard and a mouse, and reads the pointer position and the display layout they act on.
//
// Bound to the queue given at creation: every member except `injectedDeviceIDs` runs on it. The
// object may be destroyed on any thread once nothing else runs on it; what it still holds down is
// let go then.
class Events {
public:
    // Desktop coordinates: the origin is the top left of the whole screen, y grows downwards, one
    // unit per pixel.
    struct Point {
        double x = 0;
        double y = 0;
        friend bool operator==(const Point&, const Point&) = default;
    };
    struct Rect {
        double x = 0;
        double y = 0;
        double width = 0;
        double height = 0;

        double minX() const { return x; }
        double minY() const { return y; }
        double maxX() const { return x + width; }
        double maxY() const { return y + height; }
        friend bool operator==(const Rect&, const Rect&) = default;
    };

    // The modifier keys an event is posted with.
    using Flags = TessaloyCore::InputEvent::Modifiers;

    // A drag is a move while its button is held.
    enum class MouseEventType : std::uint8_t {
        leftMouseDown = 1,
        leftMouseUp = 2,
        rightMouseDown = 3,
        rightMouseUp = 4,
        mouseMoved = 5,
        leftMouseDragged = 6,
        rightMouseDragged = 7,
        otherMouseDown = 25,
        otherMouseUp = 26,
        otherMouseDragged = 27,
    };

    struct MouseEvent {
        MouseEventType type = MouseEventType::mouseMoved;
        // Where a move or drag puts the pointer; buttons act where the pointer is.
        Point position;
        // 0 left, 1 right, 2 middle.
        int button = 0;
        // Of a press or release: 1 for a single click, 2 for the second of a double click, ...
        std::int64_t clickCount = 0;
        Flags flags;
        friend bool operator==(const MouseEvent&, const MouseEvent&) = default;
    };

    // Posts from the display server `displayName` (empty: the session's) on `queue`, which must
    // outlive the object. Returns nullptr when no server answers or it cannot take posted events,
    // with the reason in `whyNot`.
    static std::unique_ptr<Events> create(TessaloyBase::SerialQueue& queue, const std::string& displayName = {},
                                          std::string* whyNot = nullptr);

    virtual ~Events() = default;

    // The pointer's position now; nothing when it cannot be read.
    virtual std::optional<Point> pointerLocation() = 0;
    // The bounds of every active display, in listing order; nothing when they cannot be read.
    virtual std::optional<std::vector<Rect>> activeDisplayBounds() = 0;

    // Each returns whether the event was posted.
    virtual bool postMouse(const MouseEvent& event) = 0;
    // Wheel clicks, each a press and release of a wheel button: positive `vertical` scrolls up,
    // positive `horizontal` scrolls left.
    virtual bool postScroll(std::int32_t vertical, std::int32_t horizontal, Flags flags) = 0;
    // `code` is the device's key code (its ANSI layout's virtual key codes, 0...127).
    virtual bool postKey(std::uint16_t code, bool isDown, Flags flags) = 0;
    // Types one character (one extended grapheme cluster, as UTF-16 code units) as a key press and
    // release, whatever keys and modifiers are held.
    virtual bool postCharacter(std::u16string_view units) = 0;

    // The event mark: the input devices that posted events come from, as the display server numbers
    // them (its XInput2 device IDs), so that a filter of local input can let exactly these through.
    // Empty when the server does not tell devices apart. Safe from any thread.
    virtual std::vector<int> injectedDeviceIDs() const = 0;
};

} // namespace Platform
