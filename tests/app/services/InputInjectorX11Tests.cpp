#include <gtest/gtest.h>

#include "app/services/InputInjector.h"
#include "base/SerialQueue.h"
#include "platform/Events.h"
#include "tests/platform/linux/X11InputWindow.h"
#include "tests/support/X11TestDesktop.h"
#include "tests/support/XvfbServer.h"

#include <X11/keysym.h>

#include <thread>

namespace {

using namespace std::chrono_literals;
using Plovander::InputInjector;
using Testing::X11InputWindow;
using Testing::X11TestDesktop;
using Testing::XvfbServer;
using InputEvent = TessaloyCore::InputEvent;
using Modifiers = InputEvent::Modifiers;
using Point = Platform::Events::Point;

// The injector on a private X server, posting through XTest.
class InputInjectorX11Test : public ::testing::Test {
protected:
    void post(InputEvent::Value value, InputInjector::PointerMoved pointerMoved = {}) {
        injector.post(InputEvent{std::move(value)}, std::move(pointerMoved));
        queue.sync([] {});
    }

    // Where the server has the pointer once it got to `expected`, or after waiting in vain.
    Point pointerReaching(Point expected) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        for (;;) {
            const auto [x, y] = window.pointer();
            const Point now{double(x), double(y)};
            if (now == expected || std::chrono::steady_clock::now() > deadline) return now;
            std::this_thread::sleep_for(1ms);
        }
    }

    XvfbServer server;
    X11TestDesktop desktop{server.displayName()};
    X11InputWindow window{server.displayName()};
    TessaloyBase::SerialQueue queue{"dev.tessaloy.input"};
    std::unique_ptr<Platform::Events> events = Platform::Events::create(queue, server.displayName());
    std::vector<int> injectedDevices = events ? events->injectedDeviceIDs() : std::vector<int>{};
    InputInjector injector{queue, std::move(events)};
};

TEST_F(InputInjectorX11Test, AMoveLandsWhereTheDeviceMeantIt) {
    desktop.movePointer(100, 100);
    post(InputEvent::PointerMove{10, 5});
    EXPECT_EQ(pointerReaching({110, 105}), (Point{110, 105}));

    std::vector<Point> reported;
    post(InputEvent::TrackedPointerMove{-20, 40, 7}, [&](Point point) { reported.push_back(point); });
    EXPECT_EQ(reported, std::vector<Point>{(Point{90, 145})});
    EXPECT_EQ(pointerReaching({90, 145}), (Point{90, 145}));
}

TEST_F(InputInjectorX11Test, MovesAreKeptOnTheDisplays) {
    desktop.movePointer(1000, 500);
    post(InputEvent::PointerMove{5000, 5000});
    EXPECT_EQ(pointerReaching({1919, 1079}), (Point{1919, 1079}));
    post(InputEvent::PointerMove{-9999, -9999});
    EXPECT_EQ(pointerReaching({0, 0}), (Point{0, 0}));

    // The monitors decide, not the size of the screen.
    desktop.addMonitor("ONLY", {0, 0, 1280, 720}, true, true);
    post(InputEvent::PointerMove{5000, 5000});
    EXPECT_EQ(pointerReaching({1279, 719}), (Point{1279, 719}));
}

TEST_F(InputInjectorX11Test, AClickAndThePasteShortcutReachTheWindow) {
    desktop.movePointer(300, 400);
    post(InputEvent::Button{InputEvent::MouseButton::left, true});
    post(InputEvent::Button{InputEvent::MouseButton::left, false});
    const auto click = window.next(ButtonPress);
    ASSERT_TRUE(click);
    EXPECT_EQ(click->xbutton.button, 1u);
    EXPECT_EQ(click->xbutton.x_root, 300);
    EXPECT_EQ(click->xbutton.y_root, 400);

    // What the controller posts to paste: key 9 with Command, pressed and released.
    post(InputEvent::Key{9, true, Modifiers::command});
    post(InputEvent::Key{9, false, Modifiers::command});
    auto paste = window.nextTypedKey();
    ASSERT_TRUE(paste);
    EXPECT_EQ(XLookupKeysym(&paste->xkey, 0), static_cast<KeySym>(XK_v));
    EXPECT_EQ(paste->xkey.state & (ControlMask | ShiftMask | Mod1Mask), unsigned(ControlMask));
    ASSERT_TRUE(window.next(KeyRelease));

    ASSERT_TRUE(window.hasXInput2());
    ASSERT_EQ(injectedDevices.size(), 2u);
    for (const int source : window.rawPressSources()) {
        EXPECT_TRUE(source == injectedDevices[0] || source == injectedDevices[1]) << source;
    }
    EXPECT_GE(window.rawPressSources().size(), 3u);
}

TEST_F(InputInjectorX11Test, TextOutsideTheKeyboardMapArrivesAsItsCharacters) {
    post(InputEvent::Text{"h\u2603!"});
    std::vector<KeySym> keysyms;
    for (int i = 0; i < 3; ++i) {
        auto pressed = window.nextTypedKey();
        ASSERT_TRUE(pressed);
        keysyms.push_back(window.keysymOf(pressed->xkey.keycode, (pressed->xkey.state & ShiftMask) ? 1 : 0));
    }
    EXPECT_EQ(keysyms, (std::vector<KeySym>{XK_h, 0x1002603, XK_exclam}));
}

} // namespace
