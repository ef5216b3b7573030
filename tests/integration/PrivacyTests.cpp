#include "tests/integration/MainRoadHarness.h"

#include "core/InputEvent.h"
#include "core/SessionMessage.h"
#include "platform/linux/XRandrGamma.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <map>
#include <string>

namespace Integration {
namespace {

using Platform::Linux::XRandrGamma;
using Role = TessaloyCore::ChannelRole;
using TessaloyCore::SessionMessage;

class Privacy : public DesktopSessionTest {
protected:
    // Device name to its use (XISlaveKeyboard, XIFloatingSlave, ...), as the server lists them now.
    std::map<std::string, int> deviceUses() {
        ::Display* display = XOpenDisplay(displayName.c_str());
        int count = 0;
        XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
        std::map<std::string, int> uses;
        for (int i = 0; i < count; ++i) uses[devices[i].name] = devices[i].use;
        XIFreeDeviceInfo(devices);
        XCloseDisplay(display);
        return uses;
    }

    std::pair<int, int> pointer() {
        ::Display* display = XOpenDisplay(displayName.c_str());
        ::Window root = 0;
        ::Window child = 0;
        int x = -1;
        int y = -1;
        int windowX = 0;
        int windowY = 0;
        unsigned mask = 0;
        XQueryPointer(display, XDefaultRootWindow(display), &root, &child, &x, &y, &windowX, &windowY, &mask);
        XCloseDisplay(display);
        return {x, y};
    }

    // The last privacy state the device was told about.
    std::optional<SessionMessage::PrivacyState> appliedPrivacy(Testing::DeviceSimulator& device) {
        auto* control = device.channel(Role::control);
        if (!control) return std::nullopt;
        std::lock_guard guard(control->log.lock);
        std::optional<SessionMessage::PrivacyState> last;
        for (const auto& packet : control->log.packets) {
            try {
                const SessionMessage message = SessionMessage::decode(packet);
                if (const auto* applied = std::get_if<SessionMessage::PrivacyApplied>(&message.value)) {
                    last = applied->state;
                }
            } catch (const SessionMessage::Error&) {
                // Another kind of packet.
            }
        }
        return last;
    }

    XRandrGamma gamma{displayName, XRandrGamma::Guard::none};
};

TEST_F(Privacy, TheDeviceGetsWhatIsInForceAndTheSessionsEndGivesEverythingBack) {
    const std::uint32_t display = gamma.onlineDisplays().at(0);
    // Xvfb's ramps start at zero: give the display a calibration that blanking visibly changes.
    ASSERT_TRUE(gamma.setRamps(display, {{0.0f, 1.0f}, {0.0f, 1.0f}, {0.0f, 1.0f}}));
    const auto calibration = gamma.ramps(display);

    Testing::DeviceSimulator device("Ada's iPhone");
    ASSERT_NO_FATAL_FAILURE(pairAndApprove(device));
    device.send(Role::control,
                SessionMessage{SessionMessage::Privacy{{.blanksScreen = true, .locksLocalInput = true}}}.packet());
    const SessionMessage::PrivacyState both{.blanksScreen = true, .locksLocalInput = true};
    ASSERT_TRUE(until([&] { return appliedPrivacy(device) == both; }));
    EXPECT_EQ(session->privacy(), both);

    const std::vector<float> zeros(calibration->red.size(), 0.0f);
    EXPECT_EQ(gamma.ramps(display), (Platform::Gamma::Ramps{zeros, zeros, zeros}));
    auto uses = deviceUses();
    EXPECT_EQ(uses["Xvfb keyboard"], XIFloatingSlave);
    EXPECT_EQ(uses["Xvfb mouse"], XIFloatingSlave);

    // The device's input still lands.
    desktop.movePointer(100, 100);
    device.send(Role::control, TessaloyCore::InputEvent{TessaloyCore::InputEvent::PointerMove{50, 20}}.packet());
    EXPECT_TRUE(until([&] { return pointer() == std::make_pair(150, 120); }));

    session->stopSharing(StopReason::userStopped());
    EXPECT_TRUE(deviceLearnsTheEnd(device, TessaloyCore::SessionEnd::Reason::userStopped));
    EXPECT_EQ(gamma.ramps(display), calibration);
    uses = deviceUses();
    EXPECT_EQ(uses["Xvfb keyboard"], XISlaveKeyboard);
    EXPECT_EQ(uses["Xvfb mouse"], XISlavePointer);
    EXPECT_TRUE(traced("local input lock: 1 taps, enabled [true]"));
    EXPECT_TRUE(traced("local input lock: tap 0 was refused"));
}

} // namespace
} // namespace Integration
