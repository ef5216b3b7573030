#include "tests/integration/MainRoadHarness.h"

#include "core/InputEvent.h"
#include "tests/platform/linux/X11InputWindow.h"
#include "tests/support/FakeAudioCapture.h"

#include <X11/keysym.h>

// The product's main road on a real desktop: a device pairs with the code, the user approves, the
// device sees the screen, hears the sound and controls the pointer and keyboard, the user stops,
// and the device comes back later without a code while the Mac stays available.
namespace {

using namespace std::chrono_literals;
using Integration::DesktopSessionTest;
using Testing::DeviceMediaReceiver;
using Testing::DeviceSimulator;
using Testing::X11InputWindow;
using InputEvent = TessaloyCore::InputEvent;
using Role = TessaloyCore::ChannelRole;

constexpr std::uint32_t red = 0xd02020;
constexpr std::uint32_t blue = 0x2030c0;
constexpr std::uint32_t green = 0x20c040;
constexpr std::uint32_t yellow = 0xe0d030;

class MainRoad : public DesktopSessionTest {
protected:
    // Left half red, right half blue, a green square over the red; the pointer in a corner, outside
    // every area that is measured.
    void drawDesktop() {
        desktop.showWindow(leftHalf, red);
        desktop.showWindow(rightHalf, blue);
        square = desktop.showWindow(squareArea, green);
        desktop.movePointer(screenWidth - 1, screenHeight - 1);
    }

    // The next event of `type` on the window while the session runs; nothing after `limit`.
    std::optional<XEvent> nextEvent(X11InputWindow& window, int type, const std::function<bool(const XEvent&)>& wanted,
                                    std::chrono::milliseconds limit = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            pump();
            if (auto event = window.next(type, 5ms); event && wanted(*event)) return event;
        }
        return std::nullopt;
    }

    Platform::Events::Point pointer(X11InputWindow& window) {
        const auto [x, y] = window.pointer();
        return {double(x), double(y)};
    }

    void send(DeviceSimulator& device, InputEvent::Value value) {
        device.send(Role::control, InputEvent{std::move(value)}.packet());
    }

    const Bounds leftHalf{0, 0, screenWidth / 2, screenHeight};
    const Bounds rightHalf{screenWidth / 2, 0, screenWidth / 2, screenHeight};
    const Bounds squareArea{100, 100, 96, 96};
    // The red that the square leaves uncovered.
    const Bounds redStrip{0, 200, 96, 160};
    ::Window square = 0;
};

TEST_F(MainRoad, PairStreamControlStopAndComeBackWithoutACode) {
    drawDesktop();
    DeviceSimulator device("Ada's iPhone");
    ASSERT_NO_FATAL_FAILURE(pairAndWait(device));
    EXPECT_FALSE(probe->isRunning()) << "nothing is captured before the user approves";

    session->approvePeer();
    ASSERT_TRUE(until([&] { return session->isSharing(); })) << probe->status();
    EXPECT_EQ(session->phaseDescription(), "Sharing this display.");
    EXPECT_EQ(session->connectedPeerName(), "Ada's iPhone");
    EXPECT_TRUE(traced("stored Ada's iPhone and sent this Mac's key back"));

    // Pairing completes both ways: the device has this Mac's key, this Mac remembers the device.
    const auto exchange = device.awaitMacExchange();
    ASSERT_TRUE(exchange);
    EXPECT_EQ(exchange->publicKey(), session->identity()->publicKey());
    EXPECT_EQ(exchange->name(), "Test Mac");
    ASSERT_EQ(session->pairedDevices().size(), 1u);
    EXPECT_EQ(session->pairedDevices()[0].publicKey, device.identity().publicKey());

    // The device decodes the screen as it is drawn, and follows a change.
    const auto shown = pictureShowing(device, squareArea, green);
    ASSERT_TRUE(shown) << "no picture showed the desktop";
    EXPECT_EQ(shown->width, screenWidth);
    EXPECT_EQ(shown->height, screenHeight);
    EXPECT_PRED3(DeviceMediaReceiver::isNear, DeviceMediaReceiver::averageColour(*shown, redStrip), red, 16);
    EXPECT_PRED3(DeviceMediaReceiver::isNear, DeviceMediaReceiver::averageColour(*shown, rightHalf), blue, 16);
    desktop.fill(square, {0, 0, squareArea.width, squareArea.height}, yellow);
    ASSERT_TRUE(pictureShowing(device, squareArea, yellow)) << "the change did not come through";
    auto tally = device.media().tally();
    EXPECT_GE(tally.configurations, 1u);
    EXPECT_GE(tally.keyframes, 1u);
    EXPECT_EQ(tally.failures, 0u) << tally.lastError;
    EXPECT_EQ(tally.framesBeforeKeyframe + tally.framesWithoutConfiguration + tally.framesOfAnotherGeneration, 0u);

    // Sound played on this computer reaches the device on the control channel.
    const auto sound = environment.audioCaptures();
    ASSERT_FALSE(sound.empty());
    const auto heardASecond = [](const DeviceMediaReceiver::Tally& heard) {
        return heard.audioSamples >= 2 * 48'000 && heard.audioPeak > 0.3f;
    };
    for (int played = 0; played < 100 && !heardASecond(device.media().tally()); ++played) {
        ASSERT_TRUE(sound.back()->deliverTone(440, 4'800));
        device.media().waitUntil(heardASecond, 50ms, pumping());
    }
    EXPECT_TRUE(heardASecond(device.media().tally())) << device.media().tally().audioSamples << " samples";

    // The device moves the pointer, clicks and types; the events reach the X server.
    X11InputWindow window(displayName);
    XSelectInput(
        window.display(), window.window(),
        KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask);
    // The selection must reach the server before the device's move does.
    XSync(window.display(), False);
    desktop.movePointer(100, 100);
    send(device, InputEvent::PointerMove{50, 20});
    const auto moved = nextEvent(window, MotionNotify, [](const XEvent& event) {
        return event.xmotion.x_root == 150 && event.xmotion.y_root == 120;
    });
    ASSERT_TRUE(moved) << "the pointer did not get to (150, 120)";
    EXPECT_EQ(pointer(window), (Platform::Events::Point{150, 120}));

    send(device, InputEvent::Click{InputEvent::MouseButton::left, true, 1});
    send(device, InputEvent::Click{InputEvent::MouseButton::left, false, 1});
    const auto pressed = nextEvent(window, ButtonPress, [](const XEvent&) { return true; });
    ASSERT_TRUE(pressed);
    EXPECT_EQ(pressed->xbutton.button, static_cast<unsigned>(Button1));
    EXPECT_EQ(pressed->xbutton.x_root, 150);
    EXPECT_EQ(pressed->xbutton.y_root, 120);
    EXPECT_TRUE(nextEvent(window, ButtonRelease, [](const XEvent&) { return true; }));

    // Key code 0 is the A key.
    send(device, InputEvent::Key{0, true, {}});
    send(device, InputEvent::Key{0, false, {}});
    const auto typed = nextEvent(window, KeyPress, [](const XEvent&) { return true; });
    ASSERT_TRUE(typed);
    XKeyEvent key = typed->xkey;
    EXPECT_EQ(XLookupKeysym(&key, 0), static_cast<KeySym>(XK_a));
    EXPECT_TRUE(nextEvent(window, KeyRelease, [](const XEvent&) { return true; }));

    // The user stops: the device is told why, capture stops.
    session->stopSharing(StopReason::userStopped());
    EXPECT_EQ(session->phaseDescription(), "Not sharing.");
    EXPECT_TRUE(traced("stopSharing(userStopped) sharing=true advertising=false starting=false"));
    EXPECT_TRUE(deviceLearnsTheEnd(device, TessaloyCore::SessionEnd::Reason::userStopped));
    EXPECT_TRUE(until([&] { return !probe->isRunning() && !probe->isBusy(); }));
    EXPECT_EQ(probe->status(), "Capture stopped.");
    device.disconnect();

    // Later, while the Mac stays available, the device comes back with its key and no code, and is
    // let in without a click.
    session->setListensAutomatically(true);
    ASSERT_TRUE(until([&] { return session->phaseDescription() == "Waiting for a paired device."; }));
    EXPECT_FALSE(session->pairingCode());
    device.connect(endpoint());
    ASSERT_TRUE(until([&] { return session->isSharing(); })) << probe->status();
    EXPECT_EQ(session->connectedPeerName(), "Ada's iPhone");
    EXPECT_EQ(traceCount("approvePeer pressed"), 1u);
    ASSERT_TRUE(session->pairedDevices().at(0).lastSeenAt.has_value());
    ASSERT_TRUE(pictureShowing(device, squareArea, yellow)) << "no picture after coming back";
    tally = device.media().tally();
    EXPECT_EQ(tally.failures, 0u) << tally.lastError;
    EXPECT_FALSE(deviceGotTheMacKey(device)) << "a paired device needs no key exchange";
}

} // namespace
