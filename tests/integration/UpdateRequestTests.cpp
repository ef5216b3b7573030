#include <gtest/gtest.h>

#include "app/updater/TestReleases.h"
#include "core/SessionMessage.h"
#include "tests/app/updater/ReleaseFixture.h"
#include "tests/support/LoopbackHttpsServer.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/host/DesktopHost.h"

#include <unistd.h>

// The device asks the whole host for an update, served by a real HTTPS server on loopback and
// signed with this run's keys, and follows it on its control channel.
namespace {

namespace fs = std::filesystem;
using Testing::DesktopHost;
using Testing::DeviceSimulator;
using Message = TessaloyCore::SessionMessage;
using Role = TessaloyCore::ChannelRole;
using State = TessaloyCore::UpdateStatus::State;

class UpdateRequest : public ::testing::Test {
protected:
    // Build 1 is installed; build 2 is published, its archive dripped when `slowly`.
    void start(bool slowly) {
        fs::create_directories(fixture.folder / "installed");
        fs::create_directories(fixture.folder / "source");
        fs::create_directories(fixture.folder / "downloads");
        installed = Testing::ReleaseFixture::makeTree(fixture.folder / "installed", {.build = "1"});
        const auto source = Testing::ReleaseFixture::makeTree(fixture.folder / "source", {.build = "2"});
        const std::string manifestPath = "/plovander/latest.json";
        ASSERT_EQ(TessaloyCore::ReleaseManifest::location(), server.url(manifestPath));
        fixture.publish(server, source, manifestPath, "/plovander/Plovander-2.tar.zst", slowly);
        variables.set(Plovander::TestReleases::variable,
                      fixture.pointUpdaterAt(server, installed, fixture.folder / "downloads").string());
        host = std::make_unique<DesktopHost>(DesktopHost::Options{});
        if (auto problem = host->start()) FAIL() << *problem;
        if (auto problem = host->pairAndApprove(device)) FAIL() << *problem;
        device.send(Role::control, Message{Message::UpdateMac{}}.packet());
    }

    // The update states the device has received so far, each once: host information repeats the
    // current one.
    std::vector<State> states() {
        std::vector<State> found;
        auto& log = device.channel(Role::control)->log;
        std::lock_guard guard(log.lock);
        for (const auto& packet : log.packets) {
            if (packet.kind() != TessaloyCore::WirePacket::Kind::session) continue;
            const auto message = Message::decode(packet);
            const auto* status = std::get_if<TessaloyCore::UpdateStatus>(&message.value);
            if (status && (found.empty() || found.back() != status->state)) found.push_back(status->state);
        }
        return found;
    }

    bool reached(State state) {
        const auto seen = states();
        return !seen.empty() && seen.back() == state;
    }

    std::int64_t installedBuild() const { return Plovander::InstalledCopy(installed).build(); }

    Testing::ReleaseFixture fixture;
    Testing::LoopbackHttpsServer server{TessaloyCore::ReleaseManifest::host()};
    Testing::ScopedEnvironment variables;
    DeviceSimulator device{"Ada's iPhone"};
    std::unique_ptr<DesktopHost> host;
    fs::path installed;
};

TEST_F(UpdateRequest, TheDeviceSeesEveryStateUntilTheNewCopyStarts) {
    ASSERT_NO_FATAL_FAILURE(start(false));
    const std::vector<State> expected{State::checking, State::downloading, State::verifying, State::installing};
    EXPECT_TRUE(host->until([&] { return reached(State::installing); }));
    EXPECT_EQ(states(), expected);
    const fs::path started = fixture.folder / "installed/started";
    EXPECT_TRUE(host->until([&] { return fs::exists(started); }));
    std::ostringstream line;
    line << std::ifstream(started).rdbuf();
    EXPECT_EQ(line.str(), "2 -TessaloyAfterUpdate " + std::to_string(::getpid()) + "\n");
    EXPECT_EQ(installedBuild(), 2);
    EXPECT_TRUE(fs::is_empty(fixture.folder / "downloads"));
    host->finish();
}

TEST_F(UpdateRequest, ADeviceThatLeavesMidDownloadWithdrawsIt) {
    ASSERT_NO_FATAL_FAILURE(start(true));
    ASSERT_TRUE(host->until([&] { return reached(State::downloading); }));
    EXPECT_EQ(states(), (std::vector{State::checking, State::downloading}));
    device.disconnect();
    EXPECT_TRUE(host->until([&] { return host->traced("update stopped: no longer allowed"); }));
    EXPECT_EQ(installedBuild(), 1);
    EXPECT_TRUE(fs::is_empty(fixture.folder / "downloads"));
    EXPECT_FALSE(fs::exists(fixture.folder / "installed/started"));
    // Only the installed tree remains beside it: no work folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(fixture.folder / "installed"), fs::directory_iterator()), 1);
    // The Mac goes back to listening for the device after a while.
    EXPECT_TRUE(host->until([&] { return host->session->phaseDescription() == "Waiting for a paired device."; }))
        << host->session->phaseDescription();
    host->finish();
}

} // namespace
