#include "tests/integration/MainRoadHarness.h"

namespace Integration {
namespace {

using Role = TessaloyCore::ChannelRole;
using TessaloyCore::WirePacket;

std::vector<WirePacket> packetsOf(Testing::DeviceSimulator::Connection& connection) {
    std::lock_guard guard(connection.log.lock);
    return connection.log.packets;
}

} // namespace

DesktopSessionTest::DesktopSessionTest()
    : DesktopHost({.width = screenWidth, .height = screenHeight, .soundServer = std::nullopt}) {}

void DesktopSessionTest::SetUp() {
    const auto problem = start();
    ASSERT_FALSE(problem) << *problem;
}

void DesktopSessionTest::TearDown() { finish(); }

void DesktopSessionTest::startSharing() {
    const auto problem = DesktopHost::startSharing();
    ASSERT_FALSE(problem) << *problem;
}

void DesktopSessionTest::pairAndWait(Testing::DeviceSimulator& device,
                                     std::optional<Testing::DeviceSimulator::Endpoint> via) {
    const auto problem = DesktopHost::pairAndWait(device, via);
    ASSERT_FALSE(problem) << *problem;
}

void DesktopSessionTest::pairAndApprove(Testing::DeviceSimulator& device,
                                        std::optional<Testing::DeviceSimulator::Endpoint> via) {
    const auto problem = DesktopHost::pairAndApprove(device, via);
    ASSERT_FALSE(problem) << *problem;
}

bool DesktopSessionTest::deviceLearnsTheEnd(Testing::DeviceSimulator& device, TessaloyCore::SessionEnd::Reason reason) {
    return until([&] {
        auto* control = device.channel(Role::control);
        if (!control) return false;
        for (const auto& packet : packetsOf(*control)) {
            if (packet.kind() == WirePacket::Kind::endSession &&
                TessaloyCore::SessionEnd::decode(packet).reason == reason) {
                return true;
            }
        }
        return false;
    });
}

bool DesktopSessionTest::deviceGotTheMacKey(Testing::DeviceSimulator& device) {
    auto* media = device.channel(Role::media);
    if (!media) return false;
    for (const auto& packet : packetsOf(*media)) {
        if (packet.kind() == WirePacket::Kind::pairingExchange) return true;
    }
    return false;
}

std::optional<DesktopSessionTest::Picture> DesktopSessionTest::pictureShowing(Testing::DeviceSimulator& device,
                                                                              const Bounds& area, std::uint32_t rgb,
                                                                              std::chrono::milliseconds limit) {
    return device.media().waitForPicture(
        [&](const Picture& picture) {
            return Testing::DeviceMediaReceiver::isNear(Testing::DeviceMediaReceiver::averageColour(picture, area),
                                                        rgb);
        },
        limit, pumping());
}

} // namespace Integration
