#include "app/services/InputInjector.h"

#include <QString>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <chrono>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <type_traits>

namespace Plovander {
namespace {

using InputEvent = TessaloyCore::InputEvent;
using MouseButton = InputEvent::MouseButton;
using Modifiers = InputEvent::Modifiers;
using MouseEventType = Platform::Events::MouseEventType;
using Rect = Platform::Events::Rect;

constexpr std::int64_t maximumPostedKeyCode = 65'535;

bool fitsInt32(std::int64_t value) {
    return value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max();
}

Rect unionOf(const Rect& a, const Rect& b) {
    const double minX = std::min(a.minX(), b.minX());
    const double minY = std::min(a.minY(), b.minY());
    const double maxX = std::max(a.maxX(), b.maxX());
    const double maxY = std::max(a.maxY(), b.maxY());
    return {minX, minY, maxX - minX, maxY - minY};
}

int buttonNumber(MouseButton button) { return static_cast<int>(button); }

MouseEventType buttonEventType(MouseButton button, bool isDown) {
    switch (button) {
        case MouseButton::left:
            return isDown ? MouseEventType::leftMouseDown : MouseEventType::leftMouseUp;
        case MouseButton::right:
            return isDown ? MouseEventType::rightMouseDown : MouseEventType::rightMouseUp;
        case MouseButton::middle:
            break;
    }
    return isDown ? MouseEventType::otherMouseDown : MouseEventType::otherMouseUp;
}

} // namespace

Rect desktopBounds(Platform::Events& events) {
    const auto displays = events.activeDisplayBounds();
    if (!displays || displays->empty()) return InputInjector::fallbackDesktop;
    Rect bounds = displays->front();
    for (auto display = std::next(displays->begin()); display != displays->end(); ++display) {
        bounds = unionOf(bounds, *display);
    }
    return bounds;
}

double InputInjector::systemUptime() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Everything the injector keeps, confined to the queue.
struct InputInjector::State {
    std::unique_ptr<Platform::Events> source;
    Uptime uptime;
    std::set<std::int64_t> pressedKeys;
    std::set<MouseButton> pressedButtons;
    Modifiers activeModifiers;
    std::optional<Point> lastPointerTarget;
    double lastPointerMoveTime = 0;
    // Pixels scrolled that did not make a whole wheel click yet.
    std::int64_t scrollRemainderX = 0;
    std::int64_t scrollRemainderY = 0;

    void handle(const InputEvent& event, const PointerMoved& pointerMoved);
    std::optional<Point> move(std::int64_t dx, std::int64_t dy);
    void postButton(MouseButton button, bool isDown, std::int64_t clickCount);
    void postScroll(std::int64_t dx, std::int64_t dy);
    void handleKey(const InputEvent::Key& key);
    void postKey(std::int64_t code, bool isDown);
    void type(const std::string& text);
    void releaseAll();
};

void InputInjector::State::handle(const InputEvent& event, const PointerMoved& pointerMoved) {
    std::visit(
        [&](const auto& value) {
            using Case = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Case, InputEvent::PointerMove>) {
                move(value.dx, value.dy);
            } else if constexpr (std::is_same_v<Case, InputEvent::TrackedPointerMove>) {
                const auto position = move(value.dx, value.dy);
                if (position && pointerMoved) pointerMoved(*position);
            } else if constexpr (std::is_same_v<Case, InputEvent::Button>) {
                if (value.isDown) {
                    pressedButtons.insert(value.button);
                } else {
                    pressedButtons.erase(value.button);
                }
                postButton(value.button, value.isDown, 1);
            } else if constexpr (std::is_same_v<Case, InputEvent::Click>) {
                if (value.isDown) {
                    pressedButtons.insert(value.button);
                } else {
                    pressedButtons.erase(value.button);
                }
                postButton(value.button, value.isDown, value.count);
            } else if constexpr (std::is_same_v<Case, InputEvent::Scroll>) {
                postScroll(value.dx, value.dy);
            } else if constexpr (std::is_same_v<Case, InputEvent::Key>) {
                handleKey(value);
            } else if constexpr (std::is_same_v<Case, InputEvent::Text>) {
                type(value.text);
            } else if constexpr (std::is_same_v<Case, InputEvent::ReleaseAll>) {
                releaseAll();
            } else {
                static_assert(std::is_same_v<Case, InputEvent::EnableLocalCursor>);
            }
        },
        event.value);
}

std::optional<InputInjector::Point> InputInjector::State::move(std::int64_t dx, std::int64_t dy) {
    if (!source) return std::nullopt;
    const auto cursor = source->pointerLocation();
    if (!cursor) return std::nullopt;

    const double now = uptime();
    const Point base =
        now - lastPointerMoveTime < pointerContinuationWindow && lastPointerTarget ? *lastPointerTarget : *cursor;
    Point target{base.x + static_cast<double>(dx), base.y + static_cast<double>(dy)};

    const Rect bounds = desktopBounds(*source);
    target.x = std::max(target.x, bounds.minX());
    target.x = std::min(target.x, bounds.maxX() - 1.0);
    target.y = std::max(target.y, bounds.minY());
    target.y = std::min(target.y, bounds.maxY() - 1.0);

    // A move while a button is held is that button's drag; the left one wins over the others.
    Platform::Events::MouseEvent event{
        .type = MouseEventType::mouseMoved, .position = target, .button = 0, .clickCount = 0, .flags = activeModifiers};
    if (pressedButtons.contains(MouseButton::left)) {
        event.type = MouseEventType::leftMouseDragged;
        event.button = buttonNumber(MouseButton::left);
    } else if (pressedButtons.contains(MouseButton::right)) {
        event.type = MouseEventType::rightMouseDragged;
        event.button = buttonNumber(MouseButton::right);
    } else if (pressedButtons.contains(MouseButton::middle)) {
        event.type = MouseEventType::otherMouseDragged;
        event.button = buttonNumber(MouseButton::middle);
    }
    if (!source->postMouse(event)) return std::nullopt;

    lastPointerTarget = target;
    lastPointerMoveTime = now;
    return target;
}

void InputInjector::State::postButton(MouseButton button, bool isDown, std::int64_t clickCount) {
    if (!source) return;
    // Buttons act where the pointer is; it is not moved.
    const auto cursor = source->pointerLocation();
    if (!cursor) return;
    source->postMouse({.type = buttonEventType(button, isDown),
                       .position = *cursor,
                       .button = buttonNumber(button),
                       .clickCount = clickCount,
                       .flags = activeModifiers});
}

void InputInjector::State::postScroll(std::int64_t dx, std::int64_t dy) {
    if (!source || !fitsInt32(dx) || !fitsInt32(dy)) return;
    const auto clicksOf = [](std::int64_t& remainder, std::int64_t delta) {
        remainder += delta;
        std::int64_t clicks = remainder / pixelsPerWheelClick;
        remainder -= clicks * pixelsPerWheelClick;
        return std::clamp(clicks, -maximumWheelClicks, maximumWheelClicks);
    };
    const std::int64_t vertical = clicksOf(scrollRemainderY, dy);
    const std::int64_t horizontal = clicksOf(scrollRemainderX, dx);
    if (vertical == 0 && horizontal == 0) return;
    source->postScroll(static_cast<std::int32_t>(vertical), static_cast<std::int32_t>(horizontal), activeModifiers);
}

void InputInjector::State::handleKey(const InputEvent::Key& key) {
    if (key.isDown) {
        pressedKeys.insert(key.code);
        activeModifiers = key.modifiers;
        postKey(key.code, true);
        return;
    }
    pressedKeys.erase(key.code);
    activeModifiers = key.modifiers;
    postKey(key.code, false);
    // What the keys still held stand for; Caps Lock never survives a release.
    const auto holds = [this](std::int64_t first, std::int64_t second) {
        return pressedKeys.contains(first) || pressedKeys.contains(second);
    };
    activeModifiers = {};
    if (holds(56, 60)) activeModifiers.insert(Modifiers::shift);
    if (holds(59, 62)) activeModifiers.insert(Modifiers::control);
    if (holds(58, 61)) activeModifiers.insert(Modifiers::option);
    if (holds(55, 54)) activeModifiers.insert(Modifiers::command);
}

void InputInjector::State::postKey(std::int64_t code, bool isDown) {
    if (!source || code < 0 || code > maximumPostedKeyCode) return;
    source->postKey(static_cast<std::uint16_t>(code), isDown, activeModifiers);
}

void InputInjector::State::type(const std::string& text) {
    if (!source || text.empty()) return;
    const QString units = QString::fromStdString(text);
    // One key press per extended grapheme cluster, whatever its length.
    QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, units);
    qsizetype start = 0;
    for (qsizetype end = clusters.toNextBoundary(); end > start; end = clusters.toNextBoundary()) {
        const QString cluster = units.mid(start, end - start);
        source->postCharacter(std::u16string_view(reinterpret_cast<const char16_t*>(cluster.utf16()),
                                                  static_cast<std::size_t>(cluster.size())));
        start = end;
    }
}

void InputInjector::State::releaseAll() {
    for (const std::int64_t code : pressedKeys) postKey(code, false);
    pressedKeys.clear();
    for (const MouseButton button : pressedButtons) postButton(button, false, 1);
    pressedButtons.clear();
    activeModifiers = {};
}

InputInjector::InputInjector(TessaloyBase::SerialQueue& queue, std::unique_ptr<Platform::Events> events, Uptime uptime)
    : queue_(queue), state_(std::make_shared<State>()) {
    state_->source = std::move(events);
    state_->uptime = std::move(uptime);
}

InputInjector::~InputInjector() = default;

void InputInjector::post(InputEvent event, PointerMoved pointerMoved) {
    queue_.async([&queue = queue_, state = state_, event = std::move(event), pointerMoved = std::move(pointerMoved)] {
        queue.assertCurrent();
        state->handle(event, pointerMoved);
    });
}

bool InputInjector::canPost() const { return state_->source != nullptr; }

void InputInjector::releaseAll() {
    queue_.async([&queue = queue_, state = state_] {
        queue.assertCurrent();
        state->releaseAll();
    });
}

void InputInjector::readPointer(std::function<void(std::optional<Point>)> read) {
    queue_.async([&queue = queue_, state = state_, read = std::move(read)] {
        queue.assertCurrent();
        read(state->source ? state->source->pointerLocation() : std::nullopt);
    });
}

} // namespace Plovander
