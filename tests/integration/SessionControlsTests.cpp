#include <gtest/gtest.h>

#include "core/CursorUpdate.h"
#include "core/InputEvent.h"
#include "core/SessionMessage.h"
#include "tests/support/host/DesktopHost.h"

// The device steers a running session on a desktop of two real monitors: it lists them, shares the
// other one and sees it, changes codec and quality, and takes the pointer over.
namespace {

using namespace std::chrono_literals;
using Testing::DesktopHost;
using Testing::DeviceMediaReceiver;
using Testing::DeviceSimulator;
using Message = TessaloyCore::SessionMessage;
using Role = TessaloyCore::ChannelRole;
using Picture = DeviceMediaReceiver::Picture;
using Testing::ChannelRecorder;

constexpr std::uint32_t red = 0xd02020;
constexpr std::uint32_t blue = 0x2030c0;

class SessionControls : public ::testing::Test {
protected:
    void SetUp() override {
        try {
            // Different shapes, so a picture tells which monitor it shows at any quality step.
            host = std::make_unique<DesktopHost>(Testing::XorgDummyServer::Options{{{1920, 1080}, {1024, 768}}});
        } catch (const Testing::XorgDummyServer::Unavailable& why) {
            GTEST_SKIP() << "needs Xorg with the dummy video driver: " << why.what();
        }
        if (auto problem = host->start()) FAIL() << *problem;
    }

    // The next packet on the device's control channel that `wanted` takes, after those looked at before.
    std::optional<TessaloyCore::WirePacket> nextPacket(
        DeviceSimulator& device, const std::function<bool(const TessaloyCore::WirePacket&)>& wanted) {
        ChannelRecorder& log = device.channel(TessaloyCore::ChannelRole::control)->log;
        std::optional<TessaloyCore::WirePacket> found;
        host->until([&] {
            std::lock_guard guard(log.lock);
            for (; seen_ < log.packets.size() && !found; ++seen_) {
                if (wanted(log.packets[seen_])) found = log.packets[seen_];
            }
            return found.has_value();
        });
        return found;
    }

    std::optional<Message::Displays> nextDisplays(DeviceSimulator& device, std::uint32_t shared) {
        const auto packet = nextPacket(device, [&](const TessaloyCore::WirePacket& candidate) {
            if (candidate.kind() != TessaloyCore::WirePacket::Kind::session) return false;
            const auto message = Message::decode(candidate);
            return message.is<Message::Displays>() && std::get<Message::Displays>(message.value).shared == shared;
        });
        if (!packet) return std::nullopt;
        return std::get<Message::Displays>(Message::decode(*packet).value);
    }

    // Waits for a picture of `rgb` with the shape of `shapeWidth` by `shapeHeight`, at most `widest` wide.
    std::optional<Picture> pictureOf(DeviceSimulator& device, std::uint32_t rgb, int shapeWidth, int shapeHeight,
                                     int widest = 65'535) {
        return device.media().waitForPicture(
            [&](const Picture& picture) {
                // Sides are even, so the shape may be off by a pixel or two.
                const bool shaped =
                    std::abs(picture.width * shapeHeight - picture.height * shapeWidth) <= 2 * shapeWidth;
                const auto colour = DeviceMediaReceiver::averageColour(picture, {0, 0, picture.width, picture.height});
                return shaped && picture.width <= widest && DeviceMediaReceiver::isNear(colour, rgb);
            },
            DesktopHost::patience, host->pumping());
    }

    std::unique_ptr<DesktopHost> host;

private:
    std::size_t seen_ = 0;
};

TEST_F(SessionControls, TheDeviceSwitchesDisplayCodecQualityAndPointer) {
    host->desktop.showWindow({0, 0, 1920, 1080}, red);
    host->desktop.showWindow({1920, 0, 1024, 768}, blue);
    DeviceSimulator device("Ada's iPhone");
    if (auto problem = host->pairAndApprove(device)) FAIL() << *problem;
    ASSERT_TRUE(pictureOf(device, red, 16, 9)) << "the first monitor is not shown";

    device.send(Role::control, Message{Message::ListDisplays{}}.packet());
    const auto listed = nextDisplays(device, host->probe->selectedDisplayID());
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->displays.size(), 2u);
    const auto& [first, second] = std::tie(listed->displays[0], listed->displays[1]);
    EXPECT_EQ(std::tie(first.width, first.height, first.isMain), std::make_tuple(1920, 1080, true));
    EXPECT_EQ(std::tie(second.width, second.height, second.isMain), std::make_tuple(1024, 768, false));
    EXPECT_EQ(listed->shared, first.id);

    device.send(Role::control, Message{Message::ShareDisplay{second.id}}.packet());
    const auto switched = nextDisplays(device, second.id);
    ASSERT_TRUE(switched) << "the device was not told of the switch";
    ASSERT_TRUE(pictureOf(device, blue, 4, 3)) << "the other monitor is not shown";
    EXPECT_TRUE(host->traced("restarting capture: switching the shared display"));

    // HEVC only where this computer encodes it in hardware.
    const TessaloyCore::VideoCodec chosen =
        host->probe->encodesHevcInHardware() ? TessaloyCore::VideoCodec::hevc : TessaloyCore::VideoCodec::h264;
    device.send(Role::control, Message{Message::VideoCodecs{{TessaloyCore::VideoCodec::hevc}}}.packet());
    ASSERT_TRUE(host->until([&] {
        return host->traced(std::string(R"(device decodes ["h264", "hevc"], using )") + TessaloyCore::nameOf(chosen));
    }));
    ASSERT_TRUE(host->until([&] { return host->probe->codec() == chosen; }));
    device.send(Role::control, Message{Message::Quality{TessaloyCore::QualityMode::saver}}.packet());
    ASSERT_TRUE(host->until([&] { return host->traced("restarting capture: applying saver quality"); }));
    // The saver quality's pictures fit in 1280x720: 960x720 for this monitor.
    EXPECT_TRUE(pictureOf(device, blue, 4, 3, 960)) << "the stream did not come back after the changes";
    EXPECT_EQ(device.media().tally().failures, 0u) << device.media().tally().lastError;

    // The pointer in the middle of the shared monitor, and the device takes it over.
    host->desktop.movePointer(1920 + 512, 384);
    device.send(Role::control, TessaloyCore::InputEvent{TessaloyCore::InputEvent::EnableLocalCursor{}}.packet());
    const auto packet = nextPacket(device, [](const TessaloyCore::WirePacket& candidate) {
        return candidate.kind() == TessaloyCore::WirePacket::Kind::cursorUpdate;
    });
    ASSERT_TRUE(packet) << "no pointer position reached the device";
    const auto update = TessaloyCore::CursorUpdate::decode(*packet);
    EXPECT_EQ(update.displayWidth(), 1024);
    EXPECT_EQ(update.displayHeight(), 768);
    EXPECT_DOUBLE_EQ(update.x(), 0.5);
    EXPECT_DOUBLE_EQ(update.y(), 0.5);
    EXPECT_TRUE(update.visible());
    EXPECT_TRUE(host->traced("local pointer on: the Mac pointer is out of the picture"));
}

} // namespace
