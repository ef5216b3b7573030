#include <gtest/gtest.h>

#include "app/services/InputInjector.h"
#include "base/SerialQueue.h"
#include "tests/support/FakeEvents.h"

#include <atomic>
#include <future>
#include <thread>

namespace {

using Plovander::InputInjector;
using Testing::FakeEvents;
using InputEvent = TessaloyCore::InputEvent;
using Modifiers = InputEvent::Modifiers;
using MouseButton = InputEvent::MouseButton;
using MouseEvent = Platform::Events::MouseEvent;
using MouseEventType = Platform::Events::MouseEventType;
using Point = Platform::Events::Point;
using Rect = Platform::Events::Rect;
using Key = FakeEvents::Key;
using Character = FakeEvents::Character;
using Scroll = FakeEvents::Scroll;

class InputInjectorTest : public ::testing::Test {
protected:
    InputInjectorTest() {
        auto fake = std::make_unique<FakeEvents>();
        events = fake.get();
        events->setPointer(Point{100, 50});
        injector = std::make_unique<InputInjector>(queue, std::move(fake), [this] { return uptime.load(); });
    }

    // Posts and waits until the queue ran it.
    void post(InputEvent::Value value, InputInjector::PointerMoved pointerMoved = {}) {
        injector->post(InputEvent{std::move(value)}, std::move(pointerMoved));
        drain();
    }
    void drain() {
        queue.sync([] {});
    }
    void move(std::int64_t dx, std::int64_t dy) { post(InputEvent::PointerMove{dx, dy}); }
    void key(std::int64_t code, bool isDown, Modifiers modifiers = {}) {
        post(InputEvent::Key{code, isDown, modifiers});
    }
    void button(MouseButton which, bool isDown) { post(InputEvent::Button{which, isDown}); }

    // The last posted event as a mouse event (fails the test when it is something else).
    MouseEvent lastMouse() {
        const auto posted = events->posted();
        if (posted.empty() || !std::holds_alternative<MouseEvent>(posted.back())) {
            ADD_FAILURE() << "the last posted event is not a mouse event";
            return {};
        }
        return std::get<MouseEvent>(posted.back());
    }
    // The flags the injector stamps now, as seen on a move.
    Modifiers flagsNow() {
        move(0, 0);
        return lastMouse().flags;
    }

    TessaloyBase::SerialQueue queue{"dev.tessaloy.input"};
    std::atomic<double> uptime{10};
    FakeEvents* events = nullptr;
    std::unique_ptr<InputInjector> injector;
};

TEST_F(InputInjectorTest, MovesWithinTheContinuationWindowBuildOnTheLastTarget) {
    // The desktop keeps reporting the old position, as it may for a moment.
    events->setPointerFollowsMoves(false);
    move(10, 0);
    EXPECT_EQ(lastMouse().position, (Point{110, 50}));
    uptime = 10.125;
    move(10, 0);
    EXPECT_EQ(lastMouse().position, (Point{120, 50}));

    // 0.2 s later the desktop's own position counts again.
    uptime = 10.325;
    move(10, 0);
    EXPECT_EQ(lastMouse().position, (Point{110, 50}));
}

TEST_F(InputInjectorTest, AMoveExactlyAtTheEndOfTheWindowStartsFromTheDesktop) {
    events->setPointerFollowsMoves(false);
    uptime = 0;
    move(10, 0);
    uptime = InputInjector::pointerContinuationWindow;
    move(10, 0);
    EXPECT_EQ(lastMouse().position, (Point{110, 50}));
}

TEST_F(InputInjectorTest, ReadsThePointerOnItsQueue) {
    events->setPointer(Point{321, 654});
    std::optional<Point> read;
    bool onQueue = false;
    injector->readPointer([&](std::optional<Point> point) {
        read = point;
        onQueue = queue.isCurrent();
    });
    drain();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->x, 321);
    EXPECT_EQ(read->y, 654);
    EXPECT_TRUE(onQueue);

    events->setPointer(std::nullopt);
    read = Point{};
    injector->readPointer([&](std::optional<Point> point) { read = point; });
    drain();
    EXPECT_FALSE(read);
}

TEST_F(InputInjectorTest, MovesStopAtTheEdgesOfTheDesktop) {
    events->setPointer(Point{1900, 1070});
    move(5000, 5000);
    EXPECT_EQ(lastMouse().position, (Point{1919, 1079}));
    move(-10'000, -10'000);
    EXPECT_EQ(lastMouse().position, (Point{0, 0}));
    move(1919, 1079);
    EXPECT_EQ(lastMouse().position, (Point{1919, 1079}));
}

TEST_F(InputInjectorTest, TheDesktopIsTheUnionOfTheActiveDisplays) {
    events->setDisplays(std::vector<Rect>{{0, 0, 1920, 1080}, {1920, -200, 1280, 1024}});
    EXPECT_EQ(Plovander::desktopBounds(*events), (Rect{0, -200, 3200, 1280}));
    move(100'000, -100'000);
    EXPECT_EQ(lastMouse().position, (Point{3199, -200}));
    move(-100'000, 100'000);
    EXPECT_EQ(lastMouse().position, (Point{0, 1079}));
}

TEST_F(InputInjectorTest, WithoutDisplaysMovesStayInsideTheFallbackRectangle) {
    events->setDisplays(std::nullopt);
    EXPECT_EQ(Plovander::desktopBounds(*events), InputInjector::fallbackDesktop);
    move(5000, 5000);
    EXPECT_EQ(lastMouse().position, (Point{1919, 1079}));

    events->setDisplays(std::vector<Rect>{});
    EXPECT_EQ(Plovander::desktopBounds(*events), (Rect{0, 0, 1920, 1080}));
    move(-5000, -5000);
    EXPECT_EQ(lastMouse().position, (Point{0, 0}));
}

TEST_F(InputInjectorTest, AMoveWhileAButtonIsHeldIsThatButtonsDrag) {
    move(1, 0);
    EXPECT_EQ(lastMouse().type, MouseEventType::mouseMoved);
    EXPECT_EQ(lastMouse().button, 0);

    button(MouseButton::middle, true);
    move(1, 0);
    EXPECT_EQ(lastMouse().type, MouseEventType::otherMouseDragged);
    EXPECT_EQ(lastMouse().button, 2);

    button(MouseButton::right, true);
    move(1, 0);
    EXPECT_EQ(lastMouse().type, MouseEventType::rightMouseDragged);
    EXPECT_EQ(lastMouse().button, 1);

    // Left wins over the others.
    button(MouseButton::left, true);
    move(1, 0);
    EXPECT_EQ(lastMouse().type, MouseEventType::leftMouseDragged);
    EXPECT_EQ(lastMouse().button, 0);

    button(MouseButton::left, false);
    button(MouseButton::right, false);
    button(MouseButton::middle, false);
    move(1, 0);
    EXPECT_EQ(lastMouse().type, MouseEventType::mouseMoved);
}

TEST_F(InputInjectorTest, ButtonsActWherePointerIsWithTheirClickCount) {
    button(MouseButton::right, true);
    EXPECT_EQ(lastMouse(), (MouseEvent{MouseEventType::rightMouseDown, {100, 50}, 1, 1, {}}));
    button(MouseButton::right, false);
    EXPECT_EQ(lastMouse(), (MouseEvent{MouseEventType::rightMouseUp, {100, 50}, 1, 1, {}}));

    post(InputEvent::Click{MouseButton::left, true, 2});
    EXPECT_EQ(lastMouse(), (MouseEvent{MouseEventType::leftMouseDown, {100, 50}, 0, 2, {}}));
    post(InputEvent::Click{MouseButton::middle, false, 3});
    EXPECT_EQ(lastMouse(), (MouseEvent{MouseEventType::otherMouseUp, {100, 50}, 2, 3, {}}));
    // The pointer did not move.
    EXPECT_EQ(events->pointerLocation(), (Point{100, 50}));
}

TEST_F(InputInjectorTest, AButtonThatCannotBePostedIsStillHeld) {
    events->setPointer(std::nullopt);
    button(MouseButton::left, true);
    EXPECT_TRUE(events->posted().empty());

    events->setPointer(Point{10, 10});
    move(1, 1);
    EXPECT_EQ(lastMouse().type, MouseEventType::leftMouseDragged);
}

TEST_F(InputInjectorTest, EventsCarryTheModifiersOfTheLastKey) {
    key(55, true, Modifiers::command);
    EXPECT_EQ(events->posted().back(), FakeEvents::Posted(Key{55, true, Modifiers::command}));
    button(MouseButton::left, true);
    EXPECT_EQ(lastMouse().flags, Modifiers::command);
    post(InputEvent::Scroll{0, 40});
    EXPECT_EQ(events->posted().back(), FakeEvents::Posted(Scroll{1, 0, Modifiers::command}));

    key(9, true, Modifiers::command);
    key(9, false, Modifiers::command);
    EXPECT_EQ(events->posted().back(), FakeEvents::Posted(Key{9, false, Modifiers::command}));
    EXPECT_EQ(flagsNow(), Modifiers::command);
}

TEST_F(InputInjectorTest, ShiftStaysWhileRightShiftIsHeld) {
    key(60, true, Modifiers::shift);
    key(56, true, Modifiers::shift);
    key(56, false, {});
    // The release itself carries what the device said; afterwards the held Right Shift counts.
    EXPECT_EQ(events->posted().back(), FakeEvents::Posted(Key{56, false, {}}));
    EXPECT_EQ(flagsNow(), Modifiers::shift);

    key(60, false, Modifiers::shift);
    EXPECT_EQ(events->posted().back(), FakeEvents::Posted(Key{60, false, Modifiers::shift}));
    EXPECT_EQ(flagsNow(), Modifiers{});
}

TEST_F(InputInjectorTest, AReleaseRecomputesEveryModifierFromTheKeysStillHeld) {
    key(62, true, Modifiers::control);
    key(61, true, Modifiers::control | Modifiers::option);
    key(54, true, Modifiers::control | Modifiers::option | Modifiers::command);
    key(0, true, Modifiers::control | Modifiers::option | Modifiers::command | Modifiers::shift);
    // Shift was claimed by the device but no Shift key is held.
    key(0, false, Modifiers::control | Modifiers::option | Modifiers::command | Modifiers::shift);
    EXPECT_EQ(flagsNow(), Modifiers::control | Modifiers::option | Modifiers::command);
    key(61, false, {});
    EXPECT_EQ(flagsNow(), Modifiers::control | Modifiers::command);
    key(54, false, {});
    EXPECT_EQ(flagsNow(), Modifiers::control);
}

TEST_F(InputInjectorTest, CapsLockIsDroppedAtTheNextRelease) {
    key(0, true, Modifiers::capsLock);
    EXPECT_EQ(events->posted().back(), FakeEvents::Posted(Key{0, true, Modifiers::capsLock}));
    EXPECT_EQ(flagsNow(), Modifiers::capsLock);
    key(0, false, Modifiers::capsLock);
    EXPECT_EQ(events->posted().back(), FakeEvents::Posted(Key{0, false, Modifiers::capsLock}));
    EXPECT_EQ(flagsNow(), Modifiers{});
}

TEST_F(InputInjectorTest, KeyCodesBeyondSixteenBitsAreNotPosted) {
    key(65'536, true);
    key(-1, true);
    EXPECT_TRUE(events->posted().empty());
    key(65'535, true);
    EXPECT_EQ(events->posted().back(), FakeEvents::Posted(Key{65'535, true, {}}));
}

TEST_F(InputInjectorTest, TextIsTypedOneGraphemeClusterAtATime) {
    // A family: three people joined by zero-width joiners, five scalars and eight UTF-16 units.
    post(InputEvent::Text{"\U0001F469\u200D\U0001F469\u200D\U0001F467"});
    ASSERT_EQ(events->posted().size(), 1u);
    EXPECT_EQ(events->posted()[0], FakeEvents::Posted(Character{u"\U0001F469\u200D\U0001F469\u200D\U0001F467"}));
    EXPECT_EQ(std::get<Character>(events->posted()[0]).units.size(), 8u);

    events->clearPosted();
    post(InputEvent::Text{"a\u00E9e\u0301\U0001F44D\U0001F3FD"});
    const std::vector<FakeEvents::Posted> expected{Character{u"a"}, Character{u"\u00E9"}, Character{u"e\u0301"},
                                                   Character{u"\U0001F44D\U0001F3FD"}};
    EXPECT_EQ(events->posted(), expected);
}

TEST_F(InputInjectorTest, TypingTouchesNeitherHeldKeysNorModifiers) {
    key(56, true, Modifiers::shift);
    post(InputEvent::Text{"x"});
    EXPECT_EQ(flagsNow(), Modifiers::shift);
    events->clearPosted();
    post(InputEvent::Text{""});
    EXPECT_TRUE(events->posted().empty());
    injector->releaseAll();
    drain();
    EXPECT_EQ(events->posted(), (std::vector<FakeEvents::Posted>{Key{56, false, Modifiers::shift}}));
}

TEST_F(InputInjectorTest, ReleasingEverythingLetsGoOfKeysThenButtons) {
    key(56, true, Modifiers::shift);
    key(0, true, Modifiers::shift);
    button(MouseButton::left, true);
    events->clearPosted();

    post(InputEvent::ReleaseAll{});
    const std::vector<FakeEvents::Posted> expected{
        Key{0, false, Modifiers::shift}, Key{56, false, Modifiers::shift},
        MouseEvent{MouseEventType::leftMouseUp, {100, 50}, 0, 1, Modifiers::shift}};
    EXPECT_EQ(events->posted(), expected);

    // Nothing is held any more.
    events->clearPosted();
    post(InputEvent::ReleaseAll{});
    EXPECT_TRUE(events->posted().empty());
    move(1, 0);
    EXPECT_EQ(lastMouse().type, MouseEventType::mouseMoved);
    EXPECT_EQ(lastMouse().flags, Modifiers{});
}

TEST_F(InputInjectorTest, ReleaseAllFromAnyThreadDoesTheSame) {
    key(0, true);
    post(InputEvent::Click{MouseButton::right, true, 2});
    events->clearPosted();
    std::thread([this] { injector->releaseAll(); }).join();
    drain();
    const std::vector<FakeEvents::Posted> expected{Key{0, false, {}},
                                                   MouseEvent{MouseEventType::rightMouseUp, {100, 50}, 1, 1, {}}};
    EXPECT_EQ(events->posted(), expected);
}

TEST_F(InputInjectorTest, ReleasingSkipsKeyCodesThatCannotBePosted) {
    key(70'000, true);
    key(3, true);
    events->clearPosted();
    injector->releaseAll();
    drain();
    EXPECT_EQ(events->posted(), (std::vector<FakeEvents::Posted>{Key{3, false, {}}}));
}

TEST_F(InputInjectorTest, EnablingTheLocalCursorDoesNothing) {
    key(56, true, Modifiers::shift);
    events->clearPosted();
    const int reads = events->pointerReads();
    post(InputEvent::EnableLocalCursor{});
    EXPECT_TRUE(events->posted().empty());
    EXPECT_EQ(events->pointerReads(), reads);
    EXPECT_EQ(flagsNow(), Modifiers::shift);
}

TEST_F(InputInjectorTest, PointerMovedReportsTrackedMovesThatMovedThePointer) {
    std::vector<Point> reported;
    std::atomic<bool> onQueue{true};
    const auto record = [&](Point point) {
        onQueue = onQueue && queue.isCurrent();
        reported.push_back(point);
    };
    post(InputEvent::TrackedPointerMove{5, 6, 41}, record);
    EXPECT_EQ(reported, std::vector<Point>{(Point{105, 56})});
    EXPECT_TRUE(onQueue);

    // Never for a plain move or any other event.
    post(InputEvent::PointerMove{5, 6}, record);
    post(InputEvent::Button{MouseButton::left, true}, record);
    post(InputEvent::Button{MouseButton::left, false}, record);
    EXPECT_EQ(reported.size(), 1u);

    // Nor when the move could not be made: the pointer is unknown, or posting fails.
    events->setPointer(std::nullopt);
    post(InputEvent::TrackedPointerMove{1, 1, 42}, record);
    events->setPointer(Point{0, 0});
    events->setPostsFail(true);
    post(InputEvent::TrackedPointerMove{1, 1, 43}, record);
    EXPECT_EQ(reported.size(), 1u);
}

TEST_F(InputInjectorTest, AMoveThatCouldNotBePostedLeavesTheLastTargetAndTimeAsTheyWere) {
    events->setPointerFollowsMoves(false);
    move(10, 0);
    events->setPostsFail(true);
    uptime = 10.1;
    move(500, 0);
    events->setPostsFail(false);
    // Within the window of the last posted move, from its target (110).
    uptime = 10.125;
    move(10, 0);
    EXPECT_EQ(lastMouse().position, (Point{120, 50}));

    events->setPostsFail(true);
    uptime = 10.25;
    move(500, 0);
    events->setPostsFail(false);
    // 0.175 s after the last posted move, though only 0.05 s after the failed one.
    uptime = 10.3;
    move(10, 0);
    EXPECT_EQ(lastMouse().position, (Point{110, 50}));
}

TEST_F(InputInjectorTest, ScrollPixelsBecomeWheelClicksKeepingTheRemainder) {
    post(InputEvent::Scroll{0, 100});
    EXPECT_EQ(events->posted().back(), FakeEvents::Posted(Scroll{2, 0, {}}));
    post(InputEvent::Scroll{-80, 20});
    EXPECT_EQ(events->posted().back(), FakeEvents::Posted(Scroll{1, -2, {}}));
    events->clearPosted();

    // Less than a click posts nothing yet.
    post(InputEvent::Scroll{0, -39});
    EXPECT_TRUE(events->posted().empty());
    post(InputEvent::Scroll{0, -1});
    EXPECT_EQ(events->posted().back(), FakeEvents::Posted(Scroll{-1, 0, {}}));
}

TEST_F(InputInjectorTest, ScrollDeltasBeyondThirtyTwoBitsAreNotPostedNorKept) {
    post(InputEvent::Scroll{0, std::int64_t{1} << 31});
    post(InputEvent::Scroll{-(std::int64_t{1} << 31) - 1, 0});
    EXPECT_TRUE(events->posted().empty());
    post(InputEvent::Scroll{0, 40});
    EXPECT_EQ(events->posted().back(), FakeEvents::Posted(Scroll{1, 0, {}}));

    // The largest delta fits, and posts a bounded number of clicks.
    post(InputEvent::Scroll{-(std::int64_t{1} << 31), (std::int64_t{1} << 31) - 1});
    EXPECT_EQ(events->posted().back(),
              FakeEvents::Posted(Scroll{InputInjector::maximumWheelClicks, -InputInjector::maximumWheelClicks, {}}));
}

TEST_F(InputInjectorTest, PostReturnsBeforeTheWorkRuns) {
    std::promise<void> release;
    auto released = release.get_future().share();
    queue.async([released] { released.wait(); });
    injector->post(InputEvent{InputEvent::PointerMove{1, 1}});
    injector->releaseAll();
    EXPECT_TRUE(events->posted().empty());
    release.set_value();
    drain();
    EXPECT_EQ(events->posted().size(), 1u);
}

TEST(InputInjectorWithoutEventsTest, SkipsEverything) {
    TessaloyBase::SerialQueue queue{"dev.tessaloy.input"};
    InputInjector injector(queue, nullptr);
    bool moved = false;
    injector.post(InputEvent{InputEvent::TrackedPointerMove{1, 1, 1}}, [&](Point) { moved = true; });
    injector.post(InputEvent{InputEvent::Key{0, true, {}}});
    injector.post(InputEvent{InputEvent::Text{"a"}});
    injector.post(InputEvent{InputEvent::Scroll{0, 400}});
    injector.releaseAll();
    queue.sync([] {});
    EXPECT_FALSE(moved);
}

} // namespace
