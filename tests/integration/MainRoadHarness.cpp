#include "tests/integration/MainRoadHarness.h"

#include "app/runtime/TaskHandle.h"
#include "app/trace/TraceLog.h"
#include "net/channel/PairingExchange.h"
#include "platform/AudioCapture.h"
#include "platform/Displays.h"
#include "platform/ScreenCapture.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <cstdlib>
#include <fstream>

namespace Integration {
namespace {

using namespace std::chrono_literals;
using Plovander::CaptureProbe;
using Plovander::StreamingSession;
using Role = TessaloyCore::ChannelRole;
using TessaloyCore::WirePacket;

// "[tessaloy] HH:MM:SS.mmm " before each message.
constexpr std::size_t tracePrefixLength = 24;

// A port nobody listens on now; the session listens there for paired devices.
std::uint16_t freePort() {
    asio::io_context context;
    asio::ip::tcp::acceptor acceptor(context, asio::ip::tcp::endpoint(asio::ip::address_v6::any(), 0));
    return acceptor.local_endpoint().port();
}

std::vector<WirePacket> packetsOf(Testing::DeviceSimulator::Connection& connection) {
    std::lock_guard guard(connection.log.lock);
    return connection.log.packets;
}

bool isReady(Testing::DeviceSimulator::Connection* connection) {
    if (!connection) return false;
    std::lock_guard guard(connection->log.lock);
    return connection->log.ready > 0;
}

} // namespace

DesktopSessionTest::DesktopSessionTest() : port(freePort()) {
    // TESSALOY_TRACE=1 also shows the trace while a test runs.
    Plovander::TraceLog::configure({.enabled = true,
                                    .file = traceFolder / "trace.log",
                                    .toStandardError = std::getenv("TESSALOY_TRACE") != nullptr});
    environment.defaults.setInteger("TessaloyListenPort", port);
    environment.defaults.setBoolean("TessaloyAllowRemoteControl", true);
}

DesktopSessionTest::~DesktopSessionTest() { Plovander::TraceLog::configure({}); }

void DesktopSessionTest::SetUp() {
    probe = std::make_unique<CaptureProbe>(environment, captureQueue, audioQueue);
    session = std::make_unique<StreamingSession>(environment, *probe);
    ASSERT_TRUE(until([&] { return session->isReady(); }));
}

void DesktopSessionTest::TearDown() {
    if (session && (session->isSharing() || session->isAdvertising() || session->acceptsPairedDevices() ||
                    session->pendingPeerName())) {
        session->stopSharing(StopReason::userStopped());
    }
    until([&] { return !probe->isRunning() && !probe->isBusy(); }, 10s);
    session.reset();
    probe.reset();
    environment.actor.runUntilIdle();
}

void DesktopSessionTest::pump() {
    const auto now = std::chrono::steady_clock::now();
    const auto elapsed = now - lastPump_;
    lastPump_ = now;
    environment.actor.advance(std::chrono::duration<double>(elapsed));
}

bool DesktopSessionTest::until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        pump();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        // Work posted from other threads wakes this early.
        if (environment.actor.runUntil(done, 5ms)) return true;
    }
}

void DesktopSessionTest::startSharing() {
    const std::string advertising = "event=advertising(port: " + std::to_string(port) + ") phase=offering offer=true";
    const std::size_t before = traceCount(advertising);
    bool returned = false;
    Plovander::TaskHandle::start([&](Plovander::CancellationToken) -> QCoro::Task<> {
        co_await session->startSharing("Test Mac");
        returned = true;
    });
    ASSERT_TRUE(until([&] { return returned && traceCount(advertising) > before; }));
    EXPECT_EQ(session->phaseDescription(), "Waiting for a device on this network.");
    ASSERT_TRUE(session->pairingLink());
}

Testing::DeviceSimulator::Endpoint DesktopSessionTest::endpoint() const {
    return {asio::ip::make_address("127.0.0.1"), port};
}

void DesktopSessionTest::pairAndWait(Testing::DeviceSimulator& device,
                                     std::optional<Testing::DeviceSimulator::Endpoint> via) {
    startSharing();
    const std::string exchange = "pairing exchange from " + device.name() + ", known=false";
    const std::size_t exchangesBefore = traceCount(exchange);
    const std::size_t controlsBefore = traceCount("control channel attached");
    // The certificate's name differs, so the device's own name shows that its exchange arrived.
    device.setCertificateName("Pairing " + device.name());
    ASSERT_TRUE(device.pair(via.value_or(endpoint()), *session->pairingLink()));
    ASSERT_TRUE(isReady(device.channel(Role::media))) << "the media channel did not connect";
    ASSERT_TRUE(until([&] { return session->phaseDescription() == "A device is asking to connect."; }));
    ASSERT_TRUE(until([&] {
        return traceCount(exchange) > exchangesBefore && traceCount("control channel attached") > controlsBefore;
    }));
    EXPECT_EQ(session->pendingPeerName(), device.name());
}

void DesktopSessionTest::pairAndApprove(Testing::DeviceSimulator& device,
                                        std::optional<Testing::DeviceSimulator::Endpoint> via) {
    pairAndWait(device, via);
    if (HasFatalFailure()) return;
    session->approvePeer();
    ASSERT_TRUE(until([&] { return session->isSharing(); })) << probe->status();
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

std::vector<std::string> DesktopSessionTest::traceLines() const {
    std::vector<std::string> messages;
    std::ifstream file(traceFolder / "trace.log");
    for (std::string line; std::getline(file, line);) {
        if (line.size() >= tracePrefixLength) messages.push_back(line.substr(tracePrefixLength));
    }
    return messages;
}

std::size_t DesktopSessionTest::traceCount(std::string_view message) const {
    std::size_t count = 0;
    for (const auto& line : traceLines()) count += line == message ? 1 : 0;
    return count;
}

std::vector<std::string> DesktopSessionTest::tracedStartingWith(std::string_view prefix) const {
    std::vector<std::string> found;
    for (auto& line : traceLines()) {
        if (line.starts_with(prefix)) found.push_back(std::move(line));
    }
    return found;
}

} // namespace Integration
