#pragma once

#include "base/SerialQueue.h"
#include "core/InputEvent.h"
#include "platform/Events.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace Plovander {

// Turns the paired device's input events into events of this desktop, so that the device moves
// the pointer, clicks, drags, scrolls, presses keys and types text here. Every event goes out
// through `Platform::Events`, whose source devices are the event mark that the local input lock
// lets through.
//
// All work runs on the queue "dev.tessaloy.input" given at creation, in the order of the calls;
// the state is confined to it. `post` and `releaseAll` only queue work and may be called from any
// thread. Work already queued keeps what it needs alive after the injector is gone.
class InputInjector final {
public:
    using InputEvent = TessaloyCore::InputEvent;
    using Point = Platform::Events::Point;
    using Rect = Platform::Events::Rect;
    // Receives the pointer's new position; called on the queue.
    using PointerMoved = std::function<void(Point)>;
    // Seconds of a clock that never goes back (the system's uptime).
    using Uptime = std::function<double()>;

    // Moves closer together than this continue from where the previous one put the pointer, even
    // when the desktop does not report that position yet.
    static constexpr double pointerContinuationWindow = 0.15;
    // The desktop when no display can be listed.
    static constexpr Rect fallbackDesktop{0, 0, 1920, 1080};
    // Scroll deltas come in pixels and X scrolls by wheel clicks: this many pixels make one click,
    // and what is left over waits for the next scroll.
    static constexpr std::int64_t pixelsPerWheelClick = 40;
    // X posts one button press per click: a scroll posts at most this many, the excess is dropped.
    static constexpr std::int64_t maximumWheelClicks = 100;

    static double systemUptime();

    // `events` may be null (no display server): every event is then skipped. The queue must outlive
    // the injector and the work it queued.
    InputInjector(TessaloyBase::SerialQueue& queue, std::unique_ptr<Platform::Events> events,
                  Uptime uptime = systemUptime);
    ~InputInjector();
    InputInjector(const InputInjector&) = delete;
    InputInjector& operator=(const InputInjector&) = delete;

    // Injects `event` later on the queue. `pointerMoved` is called there, only for a
    // `trackedPointerMove` that moved the pointer, with the pointer's new position.
    void post(InputEvent event, PointerMoved pointerMoved = {});
    // Lets go of every key and button the device holds, later on the queue.
    void releaseAll();
    // Reads where the pointer is now, later on the queue, and hands it to `read` there (nothing
    // when the desktop cannot say).
    void readPointer(std::function<void(std::optional<Point>)> read);
    // Whether a display server takes the events at all.
    bool canPost() const;

private:
    struct State;

    TessaloyBase::SerialQueue& queue_;
    std::shared_ptr<State> state_;
};

// The rectangle pointer targets are kept inside: the union of the active displays, or
// `InputInjector::fallbackDesktop` when there is none or they cannot be listed.
Platform::Events::Rect desktopBounds(Platform::Events& events);

} // namespace Plovander
