#include <gtest/gtest.h>

#include "base/SerialQueue.h"
#include "platform/Displays.h"
#include "platform/ScreenCapture.h"
#include "platform/linux/X11Owned.h"
#include "platform/linux/X11ScreenCapture.h"
#include "tests/support/X11TestDesktop.h"
#include "tests/support/XvfbServer.h"

#include <X11/extensions/Xfixes.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>

namespace {

using namespace std::chrono_literals;
using Platform::ScreenCapture;
using Platform::ScreenCaptureError;
using Platform::ShareableDisplay;
using Testing::X11TestDesktop;
using Testing::XvfbServer;
using Bounds = ShareableDisplay::Bounds;

constexpr std::uint32_t red = 0xff0000;
constexpr std::uint32_t green = 0x00ff00;
constexpr std::uint32_t blue = 0x0000ff;
constexpr std::uint32_t grey = 0x808080;

// A delivered picture, copied out of the callback so the test can look at it afterwards.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels; // 0xRRGGBB

    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
    // Whether every pixel of `area` (frame coordinates) has `rgb`.
    bool isUniform(const Bounds& area, std::uint32_t rgb) const {
        for (int y = area.y; y < area.y + area.height; ++y) {
            for (int x = area.x; x < area.x + area.width; ++x) {
                if (at(x, y) != rgb) return false;
            }
        }
        return true;
    }
};

// Records everything a capture reports and lets the test wait for it.
class Recorder {
public:
    ScreenCapture::Callbacks callbacks(std::function<void(const TessaloyBase::FrameView&)> also = {}) {
        return {.onFrame =
                    [this, also](const TessaloyBase::FrameView& view) {
                        Frame frame{.width = view.width, .height = view.height, .pixels = {}};
                        frame.pixels.reserve(static_cast<std::size_t>(view.width * view.height));
                        for (int y = 0; y < view.height; ++y) {
                            const auto* row = view.pixels + static_cast<std::size_t>(y) * view.bytesPerRow;
                            for (int x = 0; x < view.width; ++x) {
                                const auto* pixel = row + x * 4;
                                frame.pixels.push_back(std::uint32_t(pixel[2]) << 16 | std::uint32_t(pixel[1]) << 8 |
                                                       pixel[0]);
                            }
                        }
                        {
                            std::lock_guard guard(lock_);
                            frames_.push_back(std::move(frame));
                        }
                        changed_.notify_all();
                        if (also) also(view);
                    },
                .onStopped =
                    [this](const std::string& reason) {
                        {
                            std::lock_guard guard(lock_);
                            stops_.push_back(reason);
                        }
                        changed_.notify_all();
                    },
                .onNote =
                    [this](const std::string& line) {
                        std::lock_guard guard(lock_);
                        notes_.push_back(line);
                    }};
    }

    // Waits until `count` frames arrived; false when they did not within `limit`.
    bool waitForFrames(std::size_t count, std::chrono::milliseconds limit = 10s) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, limit, [&] { return frames_.size() >= count; });
    }
    bool waitForStop(std::chrono::milliseconds limit = 10s) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, limit, [&] { return !stops_.empty(); });
    }
    std::size_t frameCount() {
        std::lock_guard guard(lock_);
        return frames_.size();
    }
    Frame frame(std::size_t index) {
        std::lock_guard guard(lock_);
        return frames_.at(index);
    }
    Frame lastFrame() {
        std::lock_guard guard(lock_);
        return frames_.back();
    }
    std::vector<std::string> stops() {
        std::lock_guard guard(lock_);
        return stops_;
    }
    std::vector<std::string> notes() {
        std::lock_guard guard(lock_);
        return notes_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Frame> frames_;
    std::vector<std::string> stops_;
    std::vector<std::string> notes_;
};

// How long a capture at `fastRate` is watched to show that it delivers nothing: 20 ticks.
constexpr double fastRate = 100;
constexpr auto quietPeriod = 200ms;

class X11ScreenCaptureTest : public ::testing::Test {
protected:
    explicit X11ScreenCaptureTest(XvfbServer::Options options = {.width = 640, .height = 480, .disabledExtensions = {}})
        : server(options), desktop(server.displayName()) {}
    // No tick may reach the recorders once they go.
    ~X11ScreenCaptureTest() override {
        queue.sync([&] { capture.reset(); });
    }

    std::uint32_t mainDisplayID() {
        std::string whyNot;
        const auto displays = Platform::Displays::create(server.displayName(), &whyNot);
        if (!displays) ADD_FAILURE() << whyNot;
        for (const auto& display : displays->list()) {
            if (display.isMain) return display.displayID;
        }
        return 0;
    }
    ScreenCapture::Configuration configuration(bool showsCursor = false) {
        return {.displayID = mainDisplayID(), .framesPerSecond = fastRate, .showsCursor = showsCursor};
    }

    // The test drives the capture as its owner elsewhere would: each call runs on the capture queue.
    void start(const ScreenCapture::Configuration& configuration, ScreenCapture::Callbacks callbacks) {
        queue.sync([&] { capture->start(configuration, std::move(callbacks)); });
    }
    void stop() {
        queue.sync([&] { capture->stop(); });
    }
    bool isRunning() {
        return queue.sync([&] { return capture->isRunning(); });
    }
    bool setShowsCursor(bool showsCursor) {
        return queue.sync([&] { return capture->setShowsCursor(showsCursor); });
    }
    void requestFrame() {
        queue.sync([&] { capture->requestFrame(); });
    }

    XvfbServer server;
    X11TestDesktop desktop;
    TessaloyBase::SerialQueue queue{"dev.tessaloy.capture"};
    // Declared before the capture, so they outlive it.
    Recorder recorder;
    Recorder second;
    std::unique_ptr<ScreenCapture> capture = ScreenCapture::create(queue, server.displayName());
};

TEST_F(X11ScreenCaptureTest, DeliversTheWindowsPixelsExactly) {
    const ::Window window = desktop.showWindow({100, 50, 200, 120}, red);
    desktop.fill(window, {20, 10, 40, 30}, blue);
    desktop.fill(window, {150, 90, 50, 30}, green);
    ASSERT_NE(capture, nullptr);
    start(configuration(), recorder.callbacks());
    ASSERT_TRUE(recorder.waitForFrames(1));
    EXPECT_TRUE(isRunning());

    const Frame frame = recorder.frame(0);
    ASSERT_EQ(frame.width, 640);
    ASSERT_EQ(frame.height, 480);
    EXPECT_TRUE(frame.isUniform({120, 60, 40, 30}, blue));
    EXPECT_TRUE(frame.isUniform({250, 140, 50, 30}, green));
    EXPECT_TRUE(frame.isUniform({100, 80, 20, 90}, red));
    EXPECT_TRUE(frame.isUniform({160, 50, 90, 90}, red));
    // What the server itself holds, pixel for pixel, around the window's edges.
    for (const auto& [x, y] : {std::pair{99, 49}, std::pair{100, 50}, std::pair{299, 169}, std::pair{300, 170},
                               std::pair{0, 0}, std::pair{639, 479}}) {
        EXPECT_EQ(frame.at(x, y), desktop.pixelAt(x, y)) << x << "," << y;
    }
    EXPECT_TRUE(recorder.notes().empty());
}

TEST_F(X11ScreenCaptureTest, DeliversOnlyWhenItsAreaWasDrawnOrAFrameWasRequested) {
    const ::Window window = desktop.showWindow({0, 0, 640, 480}, grey);
    start(configuration(), recorder.callbacks());
    ASSERT_TRUE(recorder.waitForFrames(1));

    EXPECT_FALSE(recorder.waitForFrames(2, quietPeriod));
    EXPECT_EQ(recorder.frameCount(), 1u);

    desktop.fill(window, {300, 200, 10, 10}, red);
    ASSERT_TRUE(recorder.waitForFrames(2));
    EXPECT_TRUE(recorder.lastFrame().isUniform({300, 200, 10, 10}, red));
    EXPECT_FALSE(recorder.waitForFrames(3, quietPeriod));

    requestFrame();
    ASSERT_TRUE(recorder.waitForFrames(3));
    EXPECT_EQ(recorder.frame(2).pixels, recorder.frame(1).pixels);
    EXPECT_FALSE(recorder.waitForFrames(4, quietPeriod));
}

TEST_F(X11ScreenCaptureTest, DrawingOutsideTheCapturedMonitorDeliversNothing) {
    desktop.addMonitor("LEFT", {0, 0, 320, 480}, true, true);
    desktop.addMonitor("RIGHT", {320, 0, 320, 480}, false, false);
    const ::Window window = desktop.showWindow({0, 0, 640, 480}, grey);
    start(configuration(), recorder.callbacks());
    ASSERT_TRUE(recorder.waitForFrames(1));
    EXPECT_EQ(recorder.frame(0).width, 320);

    desktop.fill(window, {400, 100, 50, 50}, red);
    EXPECT_FALSE(recorder.waitForFrames(2, quietPeriod));

    desktop.fill(window, {300, 100, 50, 50}, red); // straddles both monitors
    ASSERT_TRUE(recorder.waitForFrames(2));
    EXPECT_TRUE(recorder.lastFrame().isUniform({300, 100, 20, 50}, red));
    EXPECT_TRUE(recorder.lastFrame().isUniform({0, 0, 300, 100}, grey));
}

TEST_F(X11ScreenCaptureTest, CapturesTheChosenMonitorsArea) {
    desktop.addMonitor("LEFT", {0, 0, 400, 480}, true, true);
    desktop.addMonitor("RIGHT", {400, 100, 240, 200}, false, false);
    desktop.showWindow({0, 0, 640, 480}, grey);
    desktop.showWindow({390, 90, 30, 30}, red);
    std::uint32_t rightID = 0;
    for (const auto& display : Platform::Displays::create(server.displayName())->list()) {
        if (!display.isMain) rightID = display.displayID;
    }
    start({.displayID = rightID, .framesPerSecond = fastRate, .showsCursor = false}, recorder.callbacks());
    ASSERT_TRUE(recorder.waitForFrames(1));
    const Frame frame = recorder.frame(0);
    ASSERT_EQ(frame.width, 240);
    ASSERT_EQ(frame.height, 200);
    EXPECT_TRUE(frame.isUniform({0, 0, 20, 20}, red));
    EXPECT_EQ(frame.at(20, 0), grey);
    EXPECT_EQ(frame.at(0, 20), grey);
    EXPECT_TRUE(frame.isUniform({20, 20, 220, 180}, grey));
}

TEST_F(X11ScreenCaptureTest, FollowsAResizedMonitorAndStopsWhenItVanishes) {
    desktop.addMonitor("LEFT", {0, 0, 320, 480}, true, true);
    desktop.addMonitor("RIGHT", {320, 0, 320, 480}, false, false);
    std::uint32_t rightID = 0;
    for (const auto& display : Platform::Displays::create(server.displayName())->list()) {
        if (!display.isMain) rightID = display.displayID;
    }
    start({.displayID = rightID, .framesPerSecond = fastRate, .showsCursor = false}, recorder.callbacks());
    ASSERT_TRUE(recorder.waitForFrames(1));

    desktop.addMonitor("RIGHT", {320, 0, 320, 240}, false, false);
    ASSERT_TRUE(recorder.waitForFrames(2));
    EXPECT_EQ(recorder.lastFrame().width, 320);
    EXPECT_EQ(recorder.lastFrame().height, 240);

    desktop.removeMonitor("RIGHT");
    ASSERT_TRUE(recorder.waitForStop());
    ASSERT_EQ(recorder.stops().size(), 1u);
    EXPECT_NE(recorder.stops().front().find("no longer available"), std::string::npos) << recorder.stops().front();
    EXPECT_FALSE(isRunning());
}

TEST_F(X11ScreenCaptureTest, AMonitorTheServerCannotReadStopsCaptureAfterTheGrace) {
    // A monitor reaching past the screen's edge: every grab of it is refused.
    desktop.addMonitor("LEFT", {0, 0, 320, 480}, true, true);
    desktop.addMonitor("PAST", {320, 0, 640, 480}, false, false);
    std::uint32_t pastID = 0;
    for (const auto& display : Platform::Displays::create(server.displayName())->list()) {
        if (!display.isMain) pastID = display.displayID;
    }
    const auto started = std::chrono::steady_clock::now();
    start({.displayID = pastID, .framesPerSecond = fastRate, .showsCursor = false}, recorder.callbacks());
    ASSERT_TRUE(recorder.waitForStop());
    // Refused grabs are retried for the grace period (less the first tick) before capture gives up.
    EXPECT_GE(std::chrono::steady_clock::now() - started, Platform::Linux::X11ScreenCapture::failureGrace - 20ms);
    EXPECT_EQ(recorder.frameCount(), 0u);
    ASSERT_EQ(recorder.stops().size(), 1u);
    EXPECT_NE(recorder.stops().front().find("could not read the screen: BadMatch"), std::string::npos)
        << recorder.stops().front();
    EXPECT_FALSE(isRunning());
}

// The pointer's picture as the server has it, for checking what was drawn.
struct PointerPicture {
    int width, height, xhot, yhot;
    std::vector<unsigned long> pixels;

    static PointerPicture of(X11TestDesktop& desktop) {
        const Platform::Linux::X11Owned<XFixesCursorImage> image(XFixesGetCursorImage(desktop.connection().display()));
        PointerPicture picture{image->width, image->height, image->xhot, image->yhot, {}};
        picture.pixels.assign(image->pixels, image->pixels + image->width * image->height);
        return picture;
    }
    Bounds boundsAt(int x, int y) const { return {x - xhot, y - yhot, width, height}; }
};

// Whether the frame shows the pointer at (x, y) over `background`: its opaque pixels exactly, the
// background everywhere outside its rectangle.
::testing::AssertionResult showsPointer(const Frame& frame, const PointerPicture& pointer, int x, int y,
                                        std::uint32_t background) {
    const Bounds area = pointer.boundsAt(x, y);
    int opaque = 0;
    for (int row = 0; row < frame.height; ++row) {
        for (int column = 0; column < frame.width; ++column) {
            const bool inside =
                column >= area.x && column < area.x + area.width && row >= area.y && row < area.y + area.height;
            if (!inside) {
                if (frame.at(column, row) != background) {
                    return ::testing::AssertionFailure() << "pixel " << column << "," << row << " outside the pointer";
                }
                continue;
            }
            const auto argb = static_cast<std::uint32_t>(
                pointer.pixels[static_cast<std::size_t>((row - area.y) * pointer.width + column - area.x)]);
            if (argb >> 24 != 0xff) continue;
            ++opaque;
            if (frame.at(column, row) != (argb & 0xffffff)) {
                return ::testing::AssertionFailure() << "pointer pixel " << column << "," << row;
            }
        }
    }
    if (opaque == 0) return ::testing::AssertionFailure() << "no opaque pointer pixel in the frame";
    return ::testing::AssertionSuccess();
}

TEST_F(X11ScreenCaptureTest, DrawsThePointerWhereItIsAndOnlyWhenAsked) {
    desktop.showWindow({0, 0, 640, 480}, green);
    desktop.movePointer(200, 150);
    const PointerPicture pointer = PointerPicture::of(desktop);
    start(configuration(true), recorder.callbacks());
    ASSERT_TRUE(recorder.waitForFrames(1));
    EXPECT_TRUE(showsPointer(recorder.frame(0), pointer, 200, 150, green));

    // Moving the pointer is a change worth a frame; the old place is clean again.
    desktop.movePointer(400, 300);
    ASSERT_TRUE(recorder.waitForFrames(2));
    EXPECT_TRUE(showsPointer(recorder.lastFrame(), pointer, 400, 300, green));

    EXPECT_TRUE(setShowsCursor(false));
    ASSERT_TRUE(recorder.waitForFrames(3));
    EXPECT_TRUE(recorder.lastFrame().isUniform({0, 0, 640, 480}, green));

    // Not drawn, the pointer moves without a frame.
    desktop.movePointer(100, 100);
    EXPECT_FALSE(recorder.waitForFrames(4, quietPeriod));

    EXPECT_TRUE(setShowsCursor(true));
    ASSERT_TRUE(recorder.waitForFrames(4));
    EXPECT_TRUE(showsPointer(recorder.lastFrame(), pointer, 100, 100, green));
}

TEST_F(X11ScreenCaptureTest, APointerHalfOffTheMonitorIsClipped) {
    desktop.showWindow({0, 0, 640, 480}, green);
    desktop.movePointer(639, 479);
    const PointerPicture pointer = PointerPicture::of(desktop);
    start(configuration(true), recorder.callbacks());
    ASSERT_TRUE(recorder.waitForFrames(1));
    EXPECT_TRUE(showsPointer(recorder.frame(0), pointer, 639, 479, green));
}

TEST_F(X11ScreenCaptureTest, StopIsFinalAndCaptureRestarts) {
    const ::Window window = desktop.showWindow({0, 0, 640, 480}, grey);
    EXPECT_FALSE(isRunning());
    EXPECT_FALSE(setShowsCursor(true));
    stop(); // harmless before any start

    start(configuration(), recorder.callbacks());
    ASSERT_TRUE(recorder.waitForFrames(1));
    stop();
    EXPECT_FALSE(isRunning());
    EXPECT_FALSE(setShowsCursor(false));
    const std::size_t afterStop = recorder.frameCount();
    desktop.fill(window, {10, 10, 100, 100}, red);
    requestFrame();
    EXPECT_FALSE(recorder.waitForFrames(afterStop + 1, quietPeriod));
    EXPECT_TRUE(recorder.stops().empty());

    start(configuration(), second.callbacks());
    ASSERT_TRUE(second.waitForFrames(1));
    EXPECT_TRUE(second.frame(0).isUniform({10, 10, 100, 100}, red));
    EXPECT_EQ(recorder.frameCount(), afterStop);
}

TEST_F(X11ScreenCaptureTest, StoppingFromInsideTheFrameCallbackEndsCaptureThere) {
    const ::Window window = desktop.showWindow({0, 0, 640, 480}, grey);
    start(configuration(), recorder.callbacks([&](const TessaloyBase::FrameView& view) {
        capture->stop(); // on the queue already
        // The view stays readable until the callback returns.
        EXPECT_EQ(view.pixels[0], 0x80);
    }));
    ASSERT_TRUE(recorder.waitForFrames(1));
    EXPECT_FALSE(isRunning());
    desktop.fill(window, {10, 10, 100, 100}, red);
    EXPECT_FALSE(recorder.waitForFrames(2, quietPeriod));
}

TEST_F(X11ScreenCaptureTest, StartingAgainReplacesTheRunningCapture) {
    desktop.showWindow({0, 0, 640, 480}, grey);
    start(configuration(), recorder.callbacks());
    ASSERT_TRUE(recorder.waitForFrames(1));
    start(configuration(), second.callbacks());
    ASSERT_TRUE(second.waitForFrames(1));
    const std::size_t firstCount = recorder.frameCount();
    requestFrame();
    ASSERT_TRUE(second.waitForFrames(2));
    EXPECT_EQ(recorder.frameCount(), firstCount);
}

TEST_F(X11ScreenCaptureTest, DestroyingACaptureStopsIt) {
    const ::Window window = desktop.showWindow({0, 0, 640, 480}, grey);
    start(configuration(), recorder.callbacks());
    ASSERT_TRUE(recorder.waitForFrames(1));
    // Off the queue, as an owner elsewhere lets go: the capture ends at the queue's next turn.
    capture.reset();
    queue.sync([] {});
    desktop.fill(window, {10, 10, 100, 100}, red);
    EXPECT_FALSE(recorder.waitForFrames(2, quietPeriod));
}

TEST_F(X11ScreenCaptureTest, TheServerDyingStopsCaptureWithAReason) {
    const auto settings = configuration(true);
    start(settings, recorder.callbacks());
    ASSERT_TRUE(recorder.waitForFrames(1));
    server.kill();
    ASSERT_TRUE(recorder.waitForStop());
    const auto stops = recorder.stops();
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_NE(stops.front().find("lost the connection"), std::string::npos) << stops.front();
    EXPECT_FALSE(isRunning());
    EXPECT_FALSE(setShowsCursor(false));
    stop();

    // Starting again tells that the server is gone.
    try {
        start(settings, recorder.callbacks());
        FAIL() << "started without a server";
    } catch (const ScreenCaptureError& error) {
        EXPECT_EQ(error.kind(), ScreenCaptureError::Kind::unavailable);
    }
}

TEST_F(X11ScreenCaptureTest, RefusesAnUnknownDisplayAndImpossibleFrameRates) {
    try {
        start({.displayID = 12345, .framesPerSecond = 30, .showsCursor = false}, recorder.callbacks());
        FAIL() << "started on a display that does not exist";
    } catch (const ScreenCaptureError& error) {
        EXPECT_EQ(error.kind(), ScreenCaptureError::Kind::noSuchDisplay);
        EXPECT_NE(std::string(error.what()).find("12345"), std::string::npos);
    }
    for (const double rate :
         {0.0, -1.0, 240.5, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        try {
            start({.displayID = mainDisplayID(), .framesPerSecond = rate, .showsCursor = false}, recorder.callbacks());
            FAIL() << "started at " << rate << " frames per second";
        } catch (const ScreenCaptureError& error) {
            EXPECT_EQ(error.kind(), ScreenCaptureError::Kind::invalidConfiguration);
        }
    }
    EXPECT_FALSE(isRunning());
    start({.displayID = mainDisplayID(), .framesPerSecond = 240, .showsCursor = false}, recorder.callbacks());
    EXPECT_TRUE(recorder.waitForFrames(1));
}

TEST(X11ScreenCapture, CreateWithoutAServerReturnsNothingAndSaysWhy) {
    TessaloyBase::SerialQueue queue("dev.tessaloy.capture");
    std::string whyNot;
    EXPECT_EQ(ScreenCapture::create(queue, ":65003", &whyNot), nullptr);
    EXPECT_NE(whyNot.find(":65003"), std::string::npos) << whyNot;
}

class X11ScreenCaptureWithoutSharedMemoryTest : public X11ScreenCaptureTest {
protected:
    X11ScreenCaptureWithoutSharedMemoryTest()
        : X11ScreenCaptureTest({.width = 640, .height = 480, .disabledExtensions = {"MIT-SHM"}}) {}
};

TEST_F(X11ScreenCaptureWithoutSharedMemoryTest, FallsBackToXGetImageAndSaysSo) {
    const ::Window window = desktop.showWindow({0, 0, 640, 480}, grey);
    desktop.movePointer(500, 400);
    const PointerPicture pointer = PointerPicture::of(desktop);
    start(configuration(true), recorder.callbacks());
    ASSERT_TRUE(recorder.waitForFrames(1));
    const auto notes = recorder.notes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes.front().find("MIT-SHM"), std::string::npos) << notes.front();
    EXPECT_NE(notes.front().find("XGetImage"), std::string::npos) << notes.front();
    EXPECT_TRUE(showsPointer(recorder.frame(0), pointer, 500, 400, grey));

    desktop.fill(window, {100, 50, 40, 30}, blue);
    ASSERT_TRUE(recorder.waitForFrames(2));
    EXPECT_TRUE(recorder.lastFrame().isUniform({100, 50, 40, 30}, blue));
    EXPECT_EQ(recorder.lastFrame().at(99, 49), grey);
    EXPECT_EQ(recorder.lastFrame().at(140, 80), grey);
}

class X11ScreenCaptureWithoutDamageTest : public X11ScreenCaptureTest {
protected:
    X11ScreenCaptureWithoutDamageTest()
        : X11ScreenCaptureTest({.width = 320, .height = 240, .disabledExtensions = {"DAMAGE"}}) {}
};

TEST_F(X11ScreenCaptureWithoutDamageTest, DeliversEveryTickAndSaysSo) {
    start(configuration(), recorder.callbacks());
    ASSERT_TRUE(recorder.waitForFrames(3));
    const auto notes = recorder.notes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes.front().find("XDamage"), std::string::npos) << notes.front();
}

} // namespace
