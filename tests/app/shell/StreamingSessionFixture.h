#pragma once

#include "app/capture/CaptureProbe.h"
#include "app/shell/StreamingSession.h"
#include "app/trace/TraceLog.h"
#include "core/SessionEnd.h"
#include "net/channel/P256PrivateKey.h"
#include "net/channel/PairingExchange.h"
#include "platform/AudioCapture.h"
#include "platform/Displays.h"
#include "platform/ScreenCapture.h"
#include "tests/support/FakeEnvironment.h"
#include "tests/support/FakeHostListener.h"
#include "tests/support/FakePacketChannel.h"
#include "tests/support/QuietUpdater.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>

namespace Testing {

// A controller on fakes: the platform, the listener and the channels. Tests report what the
// listener sees and drive the main actor in virtual time; the trace goes to a file they can read.
class StreamingSessionTest : public ::testing::Test {
protected:
    using Role = TessaloyCore::ChannelRole;
    using Event = TessaloyNet::HostListener::Event;
    using StopReason = Plovander::StreamingSession::StopReason;
    using Channel = std::shared_ptr<FakePacketChannel>;
    using CaptureProbe = Plovander::CaptureProbe;

    // A phone: its long-term key and name.
    struct Device {
        std::string name;
        TessaloyCore::Bytes key = TessaloyNet::P256PrivateKey::generate().publicKey().x963Representation();
    };

    StreamingSessionTest() {
        Plovander::TraceLog::configure(
            {.enabled = true, .file = traceFile(), .toStandardError = false, .clock = &environment.actor});
        environment.defaults.setBoolean("TessaloyAllowRemoteControl", true);
    }
    ~StreamingSessionTest() override { Plovander::TraceLog::configure({}); }

    void SetUp() override {
        makeProbe();
        makeSession();
        ASSERT_TRUE(until([&] { return session->isReady(); }));
    }
    void makeProbe() {
        probe = std::make_unique<CaptureProbe>(environment, captureQueue, audioQueue, TessaloyBase::steadyQueueClock(),
                                               [this] { return encodesHevcInHardware; });
    }
    void makeSession() {
        environment.listeners = listeners.factory();
        session = std::make_unique<Plovander::StreamingSession>(environment, *probe, QuietUpdater::make);
    }

    void TearDown() override {
        if (session->isSharing() || session->isAdvertising() || session->acceptsPairedDevices()) {
            session->stopSharing(StopReason::userStopped());
        }
        environment.actor.runUntil([&] { return !probe->isRunning() && !probe->isBusy(); }, std::chrono::seconds(5));
        session.reset();
        probe.reset();
        environment.actor.runUntilIdle();
    }

    // A new controller in the same environment, as after a restart.
    void renew() {
        TearDown();
        SetUp();
    }

    bool until(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        return environment.actor.runUntil(done, limit);
    }

    FakeHostListener& listener() { return *listeners.latest(); }

    // Reports `value` from the current listener and handles it.
    void emit(Event::Value value) {
        listener().emit(std::move(value));
        environment.actor.runUntilIdle();
    }

    // Starts sharing and waits until the listener for the offer takes connections.
    void startSharing() {
        bool returned = false;
        Plovander::TaskHandle::detach([&](Plovander::CancellationToken) -> QCoro::Task<> {
            co_await session->startSharing("Test Mac");
            returned = true;
        });
        ASSERT_TRUE(
            until([&] { return returned && listeners.latest() && listener().isStarted() && !listener().isStopped(); }));
        emit(Event::Advertising{55801});
    }

    // A channel of `role` that authenticated with `key`.
    Channel connect(Role role, const std::string& peerName, std::optional<TessaloyCore::Bytes> key) {
        auto channel = std::make_shared<FakePacketChannel>();
        channel->setPeerPublicKey(std::move(key));
        emit(Event::Authenticated{channel, peerName, role});
        return channel;
    }

    void receive(const Channel& channel, Role role, TessaloyCore::WirePacket packet) {
        emit(Event::Received{std::move(packet), role, channel});
    }

    // Pairs `device` with the code: both channels, its pairing exchange, and the user's approval.
    std::pair<Channel, Channel> pairAndApprove(const Device& device) {
        startSharing();
        // Both channels show the certificate made from the code.
        const Device pairing{"Pairing " + device.name};
        auto media = connect(Role::media, pairing.name, pairing.key);
        auto control = connect(Role::control, pairing.name, pairing.key);
        receive(media, Role::media, TessaloyNet::PairingExchange(device.key, device.name).packet());
        EXPECT_EQ(session->pendingPeerName(), device.name);
        session->approvePeer();
        EXPECT_TRUE(until([&] { return session->isSharing(); }));
        return {media, control};
    }

    // Stores `device` as paired, and makes the Mac available to paired devices.
    void listenFor(const Device& device) {
        session->trusted().add(
            {.publicKey = device.key, .name = device.name, .pairedAt = environment.actor.now(), .lastSeenAt = {}});
        session->reloadPairedDevices();
        session->setListensAutomatically(true);
        ASSERT_TRUE(until([&] { return session->acceptsPairedDevices(); }));
        emit(Event::Advertising{55801});
    }

    // The session-end messages `channel` carried.
    static std::vector<TessaloyCore::SessionEnd::Reason> endsOn(const FakePacketChannel& channel) {
        std::vector<TessaloyCore::SessionEnd::Reason> reasons;
        for (const auto& entry : channel.log()) {
            if (entry.packet && entry.packet->kind() == TessaloyCore::WirePacket::Kind::endSession) {
                reasons.push_back(TessaloyCore::SessionEnd::decode(*entry.packet).reason);
            }
        }
        return reasons;
    }

    // The trace lines written since the last call, without their time stamps.
    std::vector<std::string> newTrace() {
        Plovander::TraceLog::flush();
        std::ifstream in(traceFile());
        std::vector<std::string> lines;
        std::string line;
        for (std::size_t index = 0; std::getline(in, line); ++index) {
            if (index < traceLinesRead_) continue;
            const auto start = line.find(' ', line.find(' ') + 1);
            lines.push_back(start == std::string::npos ? line : line.substr(start + 1));
        }
        traceLinesRead_ += lines.size();
        return lines;
    }

    std::filesystem::path traceFile() const { return traceFolder.path() / "trace.log"; }

    TemporaryDirectory traceFolder;
    FakeEnvironment environment;
    FakeHostListeners listeners;
    TessaloyBase::SerialQueue captureQueue{"dev.tessaloy.capture"};
    TessaloyBase::SerialQueue audioQueue{"dev.tessaloy.capture-audio"};
    // What the probe tells of this computer's HEVC encoder: hardware, so devices get HEVC.
    bool encodesHevcInHardware = true;
    std::unique_ptr<CaptureProbe> probe;
    std::unique_ptr<Plovander::StreamingSession> session;

private:
    std::size_t traceLinesRead_ = 0;
};

} // namespace Testing
