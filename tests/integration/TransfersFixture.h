#pragma once

#include "app/capture/CaptureProbe.h"
#include "app/shell/StreamingSession.h"
#include "app/trace/TraceLog.h"
#include "core/Encoding.h"
#include "core/Sha256.h"
#include "net/channel/PairingExchange.h"
#include "net/channel/PairingLink.h"
#include "net/channel/TlsPacketChannel.h"
#include "platform/AudioCapture.h"
#include "platform/Displays.h"
#include "platform/ScreenCapture.h"
#include "tests/support/DeviceSimulator.h"
#include "tests/support/FakeDisplays.h"
#include "tests/support/FakeEnvironment.h"
#include "tests/support/FakeEvents.h"
#include "tests/support/FakeScreenCapture.h"
#include "tests/support/ListenPort.h"
#include "tests/support/PatternFile.h"
#include "tests/support/QuietUpdater.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TransferPeer.h"

#include <gtest/gtest.h>

#include <asio/ip/tcp.hpp>

#include <sys/xattr.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// The whole host streaming to a phone over loopback TLS, for transfers: the real controller with its
// listener, channels, video sender, outbox, inbox and files, on the fake platform of the unit tests
// (virtual time on the main actor, a fake screen fed with pictures by a thread of the test, so video
// keeps flowing), and the phone played by the device simulator's identity with a TransferPeer on
// its media channel.
namespace TransfersTesting {

using namespace std::chrono_literals;
using Plovander::CaptureProbe;
using Plovander::HostTransfers;
using Plovander::StreamingSession;
using TessaloyCore::Bytes;
using TessaloyCore::TransferCancelReason;
using TessaloyCore::TransferPurpose;
using Testing::DeviceSimulator;
using Testing::TransferPeer;
using Testing::writePatternFile;
using Role = TessaloyCore::ChannelRole;
using Outcome = HostTransfers::Finished::Outcome;
using Reason = TransferCancelReason;

constexpr std::uint64_t mebibyte = 1024 * 1024;

inline std::string sha256Of(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return "(missing " + file.string() + ")";
    TessaloyCore::Sha256 running;
    Bytes block(mebibyte);
    while (in) {
        in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
        running.update(TessaloyCore::ByteView(block.data(), static_cast<std::size_t>(in.gcount())));
    }
    return TessaloyCore::hexString(running.digest());
}

inline std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(folder, missing)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

inline std::optional<std::string> attributeOf(const std::filesystem::path& file, const char* name) {
    std::string value(256, '\0');
    const ssize_t length = ::getxattr(file.c_str(), name, value.data(), value.size());
    if (length < 0) return std::nullopt;
    value.resize(static_cast<std::size_t>(length));
    return value;
}

// Every posted event lands in one recorder that the test keeps, whichever object the injector owns.
class SharedEvents final : public Platform::Events {
public:
    explicit SharedEvents(std::shared_ptr<Testing::FakeEvents> target) : target_(std::move(target)) {}

    std::optional<Point> pointerLocation() override { return target_->pointerLocation(); }
    std::optional<std::vector<Rect>> activeDisplayBounds() override { return target_->activeDisplayBounds(); }
    bool postMouse(const MouseEvent& event) override { return target_->postMouse(event); }
    bool postScroll(std::int32_t vertical, std::int32_t horizontal, Flags flags) override {
        return target_->postScroll(vertical, horizontal, flags);
    }
    bool postKey(std::uint16_t code, bool isDown, Flags flags) override {
        return target_->postKey(code, isDown, flags);
    }
    bool postCharacter(std::u16string_view units) override { return target_->postCharacter(units); }
    std::vector<int> injectedDeviceIDs() const override { return target_->injectedDeviceIDs(); }

private:
    std::shared_ptr<Testing::FakeEvents> target_;
};

// The unit tests' fake platform, with the paste keys kept where the test sees them and, on request,
// another clipboard.
class TransfersEnvironment final : public Platform::Environment {
public:
    TessaloyBase::MainActor& mainActor() override { return fake.mainActor(); }
    Platform::UserDefaults& userDefaults() override { return fake.userDefaults(); }
    TessaloyBase::Keychain& keychain() override { return fake.keychain(); }
    TessaloyBase::DiskQueue diskQueue() override { return fake.diskQueue(); }
    std::shared_ptr<Platform::Displays> displays(std::string* whyNot) override { return fake.displays(whyNot); }
    std::shared_ptr<Platform::ScreenCapture> screenCapture(TessaloyBase::SerialQueue& queue,
                                                           std::string* whyNot) override {
        return fake.screenCapture(queue, whyNot);
    }
    std::shared_ptr<Platform::AudioCapture> audioCapture(TessaloyBase::SerialQueue& queue) override {
        return fake.audioCapture(queue);
    }
    TessaloyBase::ServiceAdvertiser::Factory serviceAdvertisers() override { return fake.serviceAdvertisers(); }
    std::shared_ptr<TessaloyNet::HostListener> hostListener(
        std::shared_ptr<const TessaloyNet::PairedDeviceStore> trusted) override {
        return lanListener(std::move(trusted));
    }
    std::unique_ptr<Platform::Events> events(TessaloyBase::SerialQueue&, std::string*) override {
        return std::make_unique<SharedEvents>(posted);
    }
    std::unique_ptr<Platform::CursorImage> cursorImage(std::string* whyNot) override {
        return fake.cursorImage(whyNot);
    }
    std::shared_ptr<Platform::Pasteboard> pasteboard() override { return clipboard ? clipboard : fake.pasteboard(); }
    std::shared_ptr<Platform::TransferFiles> transferFiles() override { return fake.transferFiles(); }
    Platform::Gamma& gamma() override { return fake.gamma(); }
    Platform::InputLock& inputLock() override { return fake.inputLock(); }
    std::shared_ptr<Platform::PowerAssertion> powerAssertion() override { return fake.powerAssertion(); }
    Platform::LoginItems& loginItems() override { return fake.loginItems(); }
    Platform::MachineInfo& machineInfo() override { return fake.machineInfo(); }
    Platform::Interfaces& interfaces() override { return fake.interfaces(); }
    Platform::Workspace& workspace() override { return fake.workspace(); }
    std::unique_ptr<Platform::NetworkChanges> networkChanges(std::function<void()> onChange,
                                                             std::string* whyNot) override {
        return fake.networkChanges(std::move(onChange), whyNot);
    }
    void releaseFreedMemory() override { fake.releaseFreedMemory(); }

    Testing::FakeEnvironment fake;
    std::shared_ptr<Testing::FakeEvents> posted = std::make_shared<Testing::FakeEvents>();
    // Another clipboard than the fake one; set before the controller is made.
    std::shared_ptr<Platform::Pasteboard> clipboard;
};

// What the transfer rows showed on their way: for each row, every fraction in order.
class ActivityLog {
public:
    void watch(HostTransfers& transfers) {
        QObject::connect(&transfers, &HostTransfers::activeChanged, [this, &transfers] {
            for (const auto& row : transfers.active()) fractions_[row.key()].push_back(row.fraction);
        });
    }
    std::vector<double> fractions(bool isIncoming, std::uint32_t id) const {
        const auto found = fractions_.find({isIncoming, id});
        return found == fractions_.end() ? std::vector<double>{} : found->second;
    }

private:
    std::map<HostTransfers::Activity::Key, std::vector<double>> fractions_;
};

// Whether a row showed progress on its way: fractions that never fell, at least one strictly
// between 0 and 1.
inline bool showedProgress(const std::vector<double>& fractions) {
    const bool between = std::any_of(fractions.begin(), fractions.end(), [](double f) { return f > 0 && f < 1; });
    return between && std::is_sorted(fractions.begin(), fractions.end());
}

class TransfersTest : public ::testing::Test {
protected:
    static constexpr int screenWidth = 320;
    static constexpr int screenHeight = 180;

    TransfersTest() {
        // TESSALOY_TRACE=1 also shows the controller's trace while a test runs.
        Plovander::TraceLog::configure(
            {.enabled = true, .file = traceFile(), .toStandardError = std::getenv("TESSALOY_TRACE") != nullptr});
        environment.fake.displayList = {Testing::FakeDisplays::display(1, screenWidth, screenHeight)};
        environment.fake.defaults.setInteger("TessaloyListenPort", port_);
    }

    ~TransfersTest() override {
        stopPictures();
        peer.reset();
        if (session && session->isSharing()) session->stopSharing(StreamingSession::StopReason::userStopped());
        if (probe_) until([&] { return !probe_->isRunning() && !probe_->isBusy(); }, 5s);
        control_.reset();
        media_.reset();
        session.reset();
        probe_.reset();
        actor().runUntilIdle();
        Plovander::TraceLog::configure({});
    }

    Testing::ManualMainActor& actor() { return environment.fake.actor; }
    HostTransfers& transfers() { return session->transfers(); }

    // Runs the main actor until `done` holds. Some of what the tests wait for happens on other
    // threads without waking the actor, so `done` is also looked at every few milliseconds.
    bool until(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!actor().runUntil(done, 20ms)) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
        }
        return true;
    }

    // The controller streams to the phone, with "TessaloyAllowRemoteControl" as given, and video
    // arrives at the phone.
    void startStreaming(bool allowRemoteControl = true) {
        environment.fake.defaults.setBoolean("TessaloyAllowRemoteControl", allowRemoteControl);
        makeController();
        ASSERT_TRUE(until([&] { return session->isReady(); }));
        bool returned = false;
        Plovander::TaskHandle::detach([&](Plovander::CancellationToken) -> QCoro::Task<> {
            co_await session->startSharing("Test Mac");
            returned = true;
        });
        // The listener advertises the service once it takes connections.
        ASSERT_TRUE(until([&] {
            std::lock_guard guard(environment.fake.advertisements->lock);
            return returned && !environment.fake.advertisements->advertised.empty();
        }));
        ASSERT_TRUE(session->pairingLink());
        const auto link = TessaloyNet::PairingLink::parse(*session->pairingLink());
        ASSERT_TRUE(link);

        // The device's certificate carries another name than its pairing exchange, so that the
        // exchange is known to have arrived when the name changes.
        device.setCertificateName("Pairing " + device.name());
        const TessaloyNet::TlsParameters parameters = device.pairingParameters(link->code, link->salt);
        media_ = connect(parameters, Role::media);
        control_ = connect(parameters, Role::control);
        ASSERT_EQ(problemOf(*media_), "");
        ASSERT_EQ(problemOf(*control_), "");
        media_->channel->sendDirect(
            TessaloyNet::PairingExchange(device.identity().publicKey(), device.name()).packet());
        ASSERT_TRUE(until([&] { return session->pendingPeerName() == device.name(); }));

        startPictures();
        session->approvePeer();
        ASSERT_TRUE(until([&] { return session->isSharing() && transfers().sender() != nullptr; }));
        ASSERT_TRUE(until([&] { return peer->videoFrames() > 0; })) << "no video reached the device";
        activity.watch(transfers());
    }

    // The device goes away: it closes both channels.
    void disconnectDevice() {
        peer.reset();
        control_.reset();
        media_.reset();
    }

    // The paired device comes back once the Mac listens for it: both channels in trusted mode.
    void comeBack() {
        const auto advertised = [&] {
            std::lock_guard guard(environment.fake.advertisements->lock);
            return environment.fake.advertisements->advertised.size();
        };
        const std::size_t before = advertised();
        session->setListensAutomatically(true);
        ASSERT_TRUE(until([&] { return advertised() > before; }));
        device.setMacKey(session->identity()->publicKey());
        media_ = connect(device.trustedParameters(), Role::media);
        control_ = connect(device.trustedParameters(), Role::control);
        ASSERT_EQ(problemOf(*media_), "");
        ASSERT_EQ(problemOf(*control_), "");
    }

    // The folders of the environment's transfer files.
    std::filesystem::path receivedFolder() const { return environment.fake.folder / "Downloads" / "Plovander"; }
    std::filesystem::path workFolder() const { return environment.fake.folder / "work"; }
    // A private folder of the test's for the files it sends.
    std::filesystem::path sourceFolder() const { return sources_.path(); }
    // Where the device keeps what it receives.
    std::filesystem::path deviceFolder() const { return deviceFiles_.path(); }

    std::string trace() const {
        Plovander::TraceLog::flush();
        std::ifstream in(traceFile());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Whether the trace holds exactly this message as one of its lines.
    bool traced(const std::string& message) const { return trace().find(" " + message + "\n") != std::string::npos; }

    std::size_t videoFramesNow() const { return peer->videoFrames(); }

    TransfersEnvironment environment;
    ActivityLog activity;
    std::unique_ptr<TransferPeer> peer;
    std::unique_ptr<StreamingSession> session;
    DeviceSimulator device{"Ada's iPhone"};

private:
    std::filesystem::path traceFile() const { return environment.fake.folder / "trace.log"; }

    void makeController() {
        probe_ = std::make_unique<CaptureProbe>(environment, captureQueue_, audioQueue_);
        session = std::make_unique<StreamingSession>(environment, *probe_, Testing::QuietUpdater::make);
    }

    DeviceSimulator::Endpoint endpoint() const {
        return DeviceSimulator::Endpoint(asio::ip::make_address("127.0.0.1"), port_);
    }

    // One of the device's channels, with the transfer peer on the media channel. The Mac paces
    // nothing it sends, so the device's receive budget is set out of its way (the device
    // simulator's own channels keep the Mac's budget of 240 packets a second).
    std::shared_ptr<DeviceSimulator::Connection> connect(const TessaloyNet::TlsParameters& parameters, Role role) {
        TessaloyNet::TlsPacketChannel::Options options;
        options.receiveBudget = {.packetsPerSecond = 1e9, .burstPackets = 1e9};
        auto connection = std::make_shared<DeviceSimulator::Connection>();
        connection->channel = TessaloyNet::TlsPacketChannel::connecting(endpoint(), parameters, options);
        connection->channel->setEvents(connection->log.events());
        if (role == Role::media) {
            // Each change wakes the main actor, which waits for the device in runUntil().
            peer = std::make_unique<TransferPeer>(*connection, deviceFiles_.path(), TransferPeer::Pace{},
                                                  [&actor = actor()] { actor.post([] {}); });
        }
        connection->channel->sendDirect(role.packet());
        connection->channel->start();
        return connection;
    }

    // Empty once the connection is ready; otherwise why it is not.
    static std::string problemOf(DeviceSimulator::Connection& connection) {
        connection.log.waitUntil([&] { return connection.log.ready > 0 || connection.log.closedCount > 0; });
        std::lock_guard guard(connection.log.lock);
        if (connection.log.closedCount > 0) return "closed: " + connection.log.closedError.value_or("normally");
        return connection.log.ready > 0 ? "" : "not ready in time";
    }

    // A thread hands the fake screen a changing picture every 20 ms while the test runs, as a busy
    // desktop would.
    void startPictures() {
        pictures_ = std::thread([this] {
            std::vector<std::uint8_t> pixels(static_cast<std::size_t>(screenWidth) * screenHeight * 4, 0x40);
            std::unique_lock guard(pictureLock_);
            for (std::uint8_t tick = 0; !stopPictures_; ++tick) {
                guard.unlock();
                const auto captures = environment.fake.screenCaptures();
                const auto screen = captures.empty() ? nullptr : captures.back();
                for (std::size_t i = 0; i < pixels.size(); i += 4)
                    pixels[i + 1] = static_cast<std::uint8_t>(tick + i / 4096);
                if (screen) {
                    screen->deliver({.pixels = pixels.data(),
                                     .width = screenWidth,
                                     .height = screenHeight,
                                     .bytesPerRow = static_cast<std::size_t>(screenWidth) * 4,
                                     .captureTime = {}});
                }
                guard.lock();
                pictureWake_.wait_for(guard, 20ms, [this] { return stopPictures_; });
            }
        });
    }

    void stopPictures() {
        {
            std::lock_guard guard(pictureLock_);
            stopPictures_ = true;
        }
        pictureWake_.notify_all();
        if (pictures_.joinable()) pictures_.join();
    }

    std::uint16_t port_ = Testing::unusedListenPort();
    Testing::TemporaryDirectory deviceFiles_;
    Testing::TemporaryDirectory sources_;
    TessaloyBase::SerialQueue captureQueue_{"dev.tessaloy.capture"};
    TessaloyBase::SerialQueue audioQueue_{"dev.tessaloy.capture-audio"};
    std::unique_ptr<CaptureProbe> probe_;
    std::shared_ptr<DeviceSimulator::Connection> media_;
    std::shared_ptr<DeviceSimulator::Connection> control_;

    std::mutex pictureLock_;
    std::condition_variable pictureWake_;
    bool stopPictures_ = false;
    std::thread pictures_;
};

} // namespace TransfersTesting
