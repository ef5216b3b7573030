#include <gtest/gtest.h>

#include "base/SerialQueue.h"
#include "platform/Events.h"
#include "platform/linux/XTestEvents.h"
#include "tests/platform/linux/X11InputWindow.h"
#include "tests/support/X11TestDesktop.h"
#include "tests/support/XvfbServer.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <algorithm>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Platform::Events;
using Platform::Linux::XTestEvents;
using Testing::X11InputWindow;
using Testing::X11TestDesktop;
using Testing::XvfbServer;
using Flags = Events::Flags;
using MouseEventType = Events::MouseEventType;

constexpr unsigned long snowman = 0x1002603;

class XTestEventsTest : public ::testing::Test {
protected:
    // Runs `work` on the events' queue and gives back its result.
    template <typename Work>
    auto onQueue(Work&& work) {
        return queue.sync(std::forward<Work>(work));
    }
    // Each posts and waits until the server has carried it out (a round trip on the events'
    // connection), so that the server's state can be read on another.
    template <typename Post>
    bool posted(Post&& post) {
        return onQueue([&] {
            const bool result = post();
            events->pointerLocation();
            return result;
        });
    }
    bool press(std::uint16_t code, Flags flags = {}) {
        return posted([&] { return events->postKey(code, true, flags); });
    }
    bool release(std::uint16_t code, Flags flags = {}) {
        return posted([&] { return events->postKey(code, false, flags); });
    }
    bool mouse(MouseEventType type, int button = 0, Flags flags = {}) {
        return posted([&] { return events->postMouse({type, {}, button, 1, flags}); });
    }
    bool type(std::u16string_view units) {
        return posted([&] { return events->postCharacter(units); });
    }
    unsigned keycodeOf(unsigned long keysym) { return XKeysymToKeycode(window.display(), keysym); }

    XvfbServer server;
    X11TestDesktop desktop{server.displayName()};
    X11InputWindow window{server.displayName()};
    TessaloyBase::SerialQueue queue{"dev.tessaloy.input"};
    // A long hold, so that the test reads a borrowed keycode's symbol before it goes back.
    std::unique_ptr<XTestEvents> events = std::make_unique<XTestEvents>(queue, server.displayName(), 60s);
};

TEST_F(XTestEventsTest, MovesThePointerInRootCoordinates) {
    EXPECT_TRUE(onQueue([&] { return events->postMouse({MouseEventType::mouseMoved, {300, 200}, 0, 0, {}}); }));
    EXPECT_EQ(onQueue([&] { return events->pointerLocation(); }), (Events::Point{300, 200}));
    desktop.movePointer(17, 1079);
    EXPECT_EQ(onQueue([&] { return events->pointerLocation(); }), (Events::Point{17, 1079}));

    // A drag is a move too; positions are rounded to whole pixels.
    EXPECT_TRUE(onQueue([&] { return events->postMouse({MouseEventType::leftMouseDragged, {40.6, 9.4}, 0, 0, {}}); }));
    EXPECT_EQ(onQueue([&] { return events->pointerLocation(); }), (Events::Point{41, 9}));
}

TEST_F(XTestEventsTest, ListsTheBoundsOfTheMonitorsAsTheyAre) {
    // The bounds of the moment the pointer was read.
    const auto bounds = [&] {
        auto list = onQueue([&] {
            events->pointerLocation();
            return events->activeDisplayBounds();
        });
        if (list) std::sort(list->begin(), list->end(), [](const auto& a, const auto& b) { return a.x < b.x; });
        return list;
    };
    EXPECT_EQ(bounds(), (std::vector<Events::Rect>{{0, 0, 1920, 1080}}));
    desktop.addMonitor("LEFT", {0, 0, 1280, 1080}, true, true);
    desktop.addMonitor("RIGHT", {1280, 100, 640, 480}, false, false);
    EXPECT_EQ(bounds(), (std::vector<Events::Rect>{{0, 0, 1280, 1080}, {1280, 100, 640, 480}}));
    EXPECT_EQ(bounds(), (std::vector<Events::Rect>{{0, 0, 1280, 1080}, {1280, 100, 640, 480}}));
    desktop.removeMonitor("RIGHT");
    EXPECT_EQ(bounds(), (std::vector<Events::Rect>{{0, 0, 1280, 1080}}));
    desktop.addMonitor("LEFT", {0, 0, 800, 600}, true, true);
    EXPECT_EQ(bounds(), (std::vector<Events::Rect>{{0, 0, 800, 600}}));
}

TEST_F(XTestEventsTest, InjectedEventsComeFromTheXTestDevices) {
    ASSERT_TRUE(window.hasXInput2());
    const auto ids = events->injectedDeviceIDs();
    ASSERT_EQ(ids.size(), 2u);

    // The server's own list: the XTEST slave pointer first, then the keyboard.
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(window.display(), XIAllDevices, &count);
    for (int i = 0; i < count; ++i) {
        const std::string name = devices[i].name;
        if (name.find("XTEST pointer") != std::string::npos) {
            EXPECT_EQ(devices[i].deviceid, ids[0]);
        }
        if (name.find("XTEST keyboard") != std::string::npos) {
            EXPECT_EQ(devices[i].deviceid, ids[1]);
        }
    }
    XIFreeDeviceInfo(devices);

    mouse(MouseEventType::leftMouseDown);
    mouse(MouseEventType::leftMouseUp);
    ASSERT_TRUE(window.next(ButtonRelease));
    press(0);
    release(0);
    ASSERT_TRUE(window.next(KeyRelease));
    EXPECT_EQ(window.rawPressSources(), (std::vector<int>{ids[0], ids[1]}));
}

TEST_F(XTestEventsTest, ButtonsReachTheWindowUnderThePointer) {
    desktop.movePointer(640, 480);
    const std::vector<std::pair<MouseEventType, unsigned>> presses{
        {MouseEventType::leftMouseDown, 1}, {MouseEventType::rightMouseDown, 3}, {MouseEventType::otherMouseDown, 2}};
    for (const auto& [type, button] : presses) {
        const int device = button == 1 ? 0 : button == 3 ? 1 : 2;
        EXPECT_TRUE(mouse(type, device));
        const auto pressed = window.next(ButtonPress);
        ASSERT_TRUE(pressed);
        EXPECT_EQ(pressed->xbutton.button, button);
        EXPECT_EQ(pressed->xbutton.x_root, 640);
        EXPECT_EQ(pressed->xbutton.y_root, 480);
    }
    mouse(MouseEventType::otherMouseUp, 2);
    const auto released = window.next(ButtonRelease);
    ASSERT_TRUE(released);
    EXPECT_EQ(released->xbutton.button, 2u);
}

TEST_F(XTestEventsTest, WheelClicksAreButtonsFourToSeven) {
    EXPECT_TRUE(onQueue([&] { return events->postScroll(2, -1, {}); }));
    EXPECT_TRUE(onQueue([&] { return events->postScroll(-1, 1, {}); }));
    std::vector<unsigned> buttons;
    for (int i = 0; i < 5; ++i) {
        const auto pressed = window.next(ButtonPress);
        ASSERT_TRUE(pressed);
        buttons.push_back(pressed->xbutton.button);
    }
    EXPECT_EQ(buttons, (std::vector<unsigned>{4, 4, 7, 5, 6}));
}

TEST_F(XTestEventsTest, KeysReachTheFocusedWindowWithTheModifiersOfTheirFlags) {
    EXPECT_TRUE(press(0));
    auto pressed = window.nextTypedKey();
    ASSERT_TRUE(pressed);
    EXPECT_EQ(pressed->xkey.keycode, keycodeOf(XK_a));
    EXPECT_EQ(window.textOf(pressed->xkey), "a");
    EXPECT_TRUE(release(0));
    ASSERT_TRUE(window.next(KeyRelease));

    // Shift, and Command as Control: the paste shortcut.
    press(0, Flags::shift);
    pressed = window.nextTypedKey();
    ASSERT_TRUE(pressed);
    EXPECT_EQ(window.textOf(pressed->xkey), "A");
    press(9, Flags::command);
    pressed = window.nextTypedKey();
    ASSERT_TRUE(pressed);
    EXPECT_EQ(pressed->xkey.keycode, keycodeOf(XK_v));
    EXPECT_EQ(pressed->xkey.state & (ControlMask | ShiftMask | Mod1Mask), unsigned(ControlMask));
    press(1, Flags::option | Flags::control);
    pressed = window.nextTypedKey();
    ASSERT_TRUE(pressed);
    EXPECT_EQ(pressed->xkey.state & (ControlMask | ShiftMask | Mod1Mask), unsigned(ControlMask | Mod1Mask));

    // The modifiers went up again right after each event.
    for (const auto keysym : {XK_Shift_L, XK_Control_L, XK_Alt_L}) EXPECT_FALSE(window.isDown(keycodeOf(keysym)));
}

TEST_F(XTestEventsTest, ModifierKeysTheDeviceHoldsStayDownAndYieldToTheFlags) {
    press(56, Flags::shift);
    auto pressed = window.next(KeyPress);
    ASSERT_TRUE(pressed);
    EXPECT_EQ(pressed->xkey.keycode, keycodeOf(XK_Shift_L));
    press(0, Flags::shift);
    pressed = window.nextTypedKey();
    ASSERT_TRUE(pressed);
    EXPECT_EQ(window.textOf(pressed->xkey), "A");
    EXPECT_TRUE(window.isDown(keycodeOf(XK_Shift_L)));

    // Flags without Shift win for their event; Shift is down again afterwards.
    press(1, {});
    pressed = window.nextTypedKey();
    ASSERT_TRUE(pressed);
    EXPECT_EQ(window.textOf(pressed->xkey), "s");
    EXPECT_TRUE(window.isDown(keycodeOf(XK_Shift_L)));

    release(56, {});
    EXPECT_FALSE(window.isDown(keycodeOf(XK_Shift_L)));
    // Only keys that went down can come up.
    EXPECT_FALSE(release(56, {}));
}

TEST_F(XTestEventsTest, CommandAndControlShareTheControlKey) {
    press(55, Flags::command);
    press(59, Flags::command | Flags::control);
    release(55, Flags::control);
    EXPECT_TRUE(window.isDown(keycodeOf(XK_Control_L)));
    release(59, {});
    EXPECT_FALSE(window.isDown(keycodeOf(XK_Control_L)));
}

TEST_F(XTestEventsTest, CapsLockFollowsTheFlagsOfEachKeyPress) {
    press(0, Flags::capsLock);
    EXPECT_EQ(window.lockedModifiers() & LockMask, unsigned(LockMask));
    auto pressed = window.nextTypedKey();
    ASSERT_TRUE(pressed);
    EXPECT_EQ(window.textOf(pressed->xkey), "A");
    release(0, Flags::capsLock);
    press(0, {});
    EXPECT_EQ(window.lockedModifiers() & LockMask, 0u);
}

TEST_F(XTestEventsTest, KeysWithoutASymbolHereAreNotPosted) {
    // 52 has no key on the device's layout; F20 is on none of this keyboard's keys.
    EXPECT_FALSE(press(52));
    EXPECT_FALSE(press(90));
    EXPECT_FALSE(window.next(KeyPress, 200ms));
}

TEST_F(XTestEventsTest, TypesCharactersOfTheKeyboardMapWithTheirShiftLevel) {
    press(56, Flags::shift);
    // Typed text ignores held modifiers and Caps Lock.
    XkbLockModifiers(window.display(), XkbUseCoreKbd, LockMask, LockMask);
    XSync(window.display(), False);
    EXPECT_TRUE(type(u"q"));
    EXPECT_TRUE(type(u"Q"));
    EXPECT_TRUE(type(u"\n"));
    std::string text;
    for (int i = 0; i < 3; ++i) {
        const auto pressed = window.nextTypedKey();
        ASSERT_TRUE(pressed);
        text += window.textOf(pressed->xkey);
    }
    EXPECT_EQ(text, "qQ\r");
    EXPECT_TRUE(window.isDown(keycodeOf(XK_Shift_L)));
    EXPECT_EQ(window.lockedModifiers() & LockMask, unsigned(LockMask));
    // Control characters other than tab and line breaks type nothing.
    EXPECT_FALSE(type(u"\x07"));
}

TEST_F(XTestEventsTest, ACharacterOutsideTheKeyboardMapBorrowsAKeycodeUntilTheMapIsRestored) {
    ASSERT_EQ(keycodeOf(snowman), 0u);
    EXPECT_TRUE(type(u"\u2603"));
    const auto pressed = window.nextTypedKey();
    ASSERT_TRUE(pressed);
    const unsigned borrowed = pressed->xkey.keycode;
    EXPECT_EQ(window.keysymOf(borrowed), snowman);
    ASSERT_TRUE(window.next(KeyRelease));
    EXPECT_FALSE(window.isDown(borrowed));

    // The same character again reuses its keycode.
    EXPECT_TRUE(type(u"\u2603"));
    const auto again = window.nextTypedKey();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->xkey.keycode, borrowed);

    onQueue([&] { events->restoreKeyboardMapping(); });
    EXPECT_EQ(window.keysymOf(borrowed), static_cast<unsigned long>(NoSymbol));
    EXPECT_EQ(window.keysymOf(borrowed, 1), static_cast<unsigned long>(NoSymbol));

    // And once more after the restore, with the map as the server has it now.
    EXPECT_TRUE(type(u"\u2603"));
    const auto third = window.nextTypedKey();
    ASSERT_TRUE(third);
    EXPECT_EQ(window.keysymOf(third->xkey.keycode), snowman);
}

TEST_F(XTestEventsTest, AnEmojiSequenceIsOneKeystrokePerScalar) {
    // Woman, zero-width joiner, laptop.
    EXPECT_TRUE(type(u"\U0001F469\u200D\U0001F4BB"));
    std::vector<unsigned long> keysyms;
    for (int i = 0; i < 3; ++i) {
        const auto pressed = window.nextTypedKey();
        ASSERT_TRUE(pressed);
        keysyms.push_back(window.keysymOf(pressed->xkey.keycode));
    }
    EXPECT_EQ(keysyms, (std::vector<unsigned long>{0x101F469, 0x100200D, 0x101F4BB}));
}

TEST_F(XTestEventsTest, BorrowedKeycodesGoBackAfterTheHold) {
    events.reset();
    events = std::make_unique<XTestEvents>(queue, server.displayName(), 20ms);
    type(u"\u2603");
    const auto pressed = window.next(KeyPress);
    ASSERT_TRUE(pressed);
    const unsigned borrowed = pressed->xkey.keycode;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (window.keysymOf(borrowed) != NoSymbol && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(window.keysymOf(borrowed), static_cast<unsigned long>(NoSymbol));
}

TEST_F(XTestEventsTest, GoingAwayLetsGoOfEverythingAndRestoresTheMap) {
    type(u"\u2603");
    const auto typed = window.nextTypedKey();
    ASSERT_TRUE(typed);
    const unsigned borrowed = typed->xkey.keycode;
    press(56, Flags::shift);
    press(0, Flags::shift);
    mouse(MouseEventType::rightMouseDown, 1);
    ASSERT_TRUE(window.isDown(keycodeOf(XK_Shift_L)));
    ASSERT_TRUE(window.isDown(keycodeOf(XK_a)));

    events.reset();
    EXPECT_FALSE(window.isDown(keycodeOf(XK_Shift_L)));
    EXPECT_FALSE(window.isDown(keycodeOf(XK_a)));
    const auto released = window.next(ButtonRelease);
    ASSERT_TRUE(released);
    EXPECT_EQ(released->xbutton.button, 3u);
    EXPECT_EQ(window.keysymOf(borrowed), static_cast<unsigned long>(NoSymbol));
}

TEST_F(XTestEventsTest, AGoneServerFailsEveryCallQuietly) {
    server.kill();
    EXPECT_FALSE(onQueue([&] { return events->pointerLocation(); }));
    EXPECT_FALSE(onQueue([&] { return events->activeDisplayBounds(); }));
    EXPECT_FALSE(mouse(MouseEventType::mouseMoved));
    EXPECT_FALSE(press(0));
    EXPECT_FALSE(type(u"a"));
}

TEST(XTestEventsCreationTest, WithoutAServerThereAreNoEvents) {
    TessaloyBase::SerialQueue queue{"dev.tessaloy.input"};
    std::string whyNot;
    EXPECT_EQ(Events::create(queue, ":9999", &whyNot), nullptr);
    EXPECT_NE(whyNot.find(":9999"), std::string::npos);
}

TEST(XTestEventsCreationTest, WithoutXTestThereAreNoEvents) {
    XvfbServer server({.width = 640, .height = 480, .disabledExtensions = {"XTEST"}});
    TessaloyBase::SerialQueue queue{"dev.tessaloy.input"};
    std::string whyNot;
    EXPECT_EQ(Events::create(queue, server.displayName(), &whyNot), nullptr);
    EXPECT_NE(whyNot.find("XTest"), std::string::npos);
}

} // namespace
