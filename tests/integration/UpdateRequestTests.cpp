#include <gtest/gtest.h>

#include "app/updater/SelfUpdater.h"
#include "core/SessionMessage.h"
#include "tests/app/updater/ReleaseFixture.h"
#include "tests/support/LoopbackHttpsServer.h"
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
        DesktopHost::Options options;
        options.updater = [this](TessaloyBase::MainActor& actor, std::function<void()> quit) {
            return std::make_unique<Plovander::SelfUpdater>(
                actor, fixture.pointedAt(server, Plovander::InstalledCopy(installed), fixture.folder / "downloads",
                                         std::move(quit)));
        };
        host = std::make_unique<DesktopHost>(options);
        if (auto problem = host->start()) FAIL() << *problem;
        if (auto problem = host->pairAndApprove(device)) FAIL() << *problem;
        device.send(Role::control, Message{Message::UpdateMac{}}.packet());
    }

    // The session messages the device has received so far.
    std::vector<Message::Value> received() {
        std::vector<Message::Value> found;
        auto& log = device.channel(Role::control)->log;
        std::lock_guard guard(log.lock);
        for (const auto& packet : log.packets) {
            if (packet.kind() == TessaloyCore::WirePacket::Kind::session)
                found.push_back(Message::decode(packet).value);
        }
        return found;
    }

    // The update states the device has received so far, each once: host information repeats the
    // current one.
    std::vector<State> states() {
        std::vector<State> found;
        for (const auto& message : received()) {
            const auto* status = std::get_if<TessaloyCore::UpdateStatus>(&message);
            if (status && (found.empty() || found.back() != status->state)) found.push_back(status->state);
        }
        return found;
    }

    // The latest host information the device has received.
    TessaloyCore::HostInfo hostInfo() {
        TessaloyCore::HostInfo latest;
        for (const auto& message : received()) {
            if (const auto* info = std::get_if<TessaloyCore::HostInfo>(&message)) latest = *info;
        }
        return latest;
    }

    bool reached(State state) {
        const auto seen = states();
        return !seen.empty() && seen.back() == state;
    }

    std::int64_t installedBuild() const { return Plovander::InstalledCopy(installed).build(); }

    Testing::ReleaseFixture fixture;
    Testing::LoopbackHttpsServer server{TessaloyCore::ReleaseManifest::host()};
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

// Ways the device's update is withdrawn while its archive downloads.
struct Withdrawal {
    const char* name;
    std::function<void(DesktopHost&, DeviceSimulator&)> withdraw;
    bool deviceStays;
};

class UpdateWithdrawal : public UpdateRequest, public ::testing::WithParamInterface<Withdrawal> {};

TEST_P(UpdateWithdrawal, StopsTheDownloadAndLeavesTheInstalledTreeAsItWas) {
    ASSERT_NO_FATAL_FAILURE(start(true));
    ASSERT_TRUE(host->until([&] { return reached(State::downloading); }));
    EXPECT_EQ(states(), (std::vector{State::checking, State::downloading}));
    EXPECT_TRUE(hostInfo().canInstall);
    EXPECT_EQ(hostInfo().version, "1.1") << "the installed copy's, which the check compares";
    GetParam().withdraw(*host, device);
    // The archive drips for longer than this waits: only a stopped download is this quick.
    EXPECT_TRUE(host->until([&] { return host->traced("update stopped: no longer allowed"); }));
    EXPECT_EQ(installedBuild(), 1);
    EXPECT_TRUE(fs::is_empty(fixture.folder / "downloads"));
    EXPECT_FALSE(fs::exists(fixture.folder / "installed/started"));
    // Only the installed tree remains beside it: no work folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(fixture.folder / "installed"), fs::directory_iterator()), 1);
    if (GetParam().deviceStays) {
        EXPECT_TRUE(host->until([&] { return reached(State::notAllowed); }));
        EXPECT_FALSE(hostInfo().canInstall);
    } else {
        // The Mac goes back to listening for the device after a while.
        EXPECT_TRUE(host->until([&] { return host->session->phaseDescription() == "Waiting for a paired device."; }))
            << host->session->phaseDescription();
    }
    host->finish();
}

const Withdrawal withdrawals[] = {
    {"theDeviceLeaves", [](DesktopHost&, DeviceSimulator& device) { device.disconnect(); }, false},
    {"remoteControlIsSwitchedOff",
     [](DesktopHost& host, DeviceSimulator&) { host.session->setAllowsRemoteControl(false); }, true},
};

INSTANTIATE_TEST_SUITE_P(Midway, UpdateWithdrawal, ::testing::ValuesIn(withdrawals),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
