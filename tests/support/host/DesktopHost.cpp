#include "tests/support/host/DesktopHost.h"

#include "app/runtime/TaskHandle.h"
#include "app/trace/TraceLog.h"
#include "core/VideoCodec.h"
#include "media/VideoEncoder.h"
#include "platform/AudioCapture.h"
#include "platform/Displays.h"
#include "platform/ScreenCapture.h"
#include "tests/support/BlockingWork.h"
#include "tests/support/ListenPort.h"

#include <asio/ip/tcp.hpp>

#include <cstdlib>
#include <fstream>

namespace Testing {
namespace {

using namespace std::chrono_literals;
using Plovander::CaptureProbe;
using Plovander::StreamingSession;
using Role = TessaloyCore::ChannelRole;

// "[tessaloy] HH:MM:SS.mmm " before each message.
constexpr std::size_t tracePrefixLength = 24;

bool isReady(DeviceSimulator::Connection* connection) {
    if (!connection) return false;
    std::lock_guard guard(connection->log.lock);
    return connection->log.ready > 0;
}

} // namespace

DesktopHost::DesktopHost(const Options& options) : DesktopHost(options, std::nullopt) {}

DesktopHost::DesktopHost(const XorgDummyServer::Options& monitors)
    : DesktopHost(Options{.width = 0, .height = 0, .soundServer = std::nullopt, .updater = QuietUpdater::make},
                  monitors) {}

DesktopHost::DesktopHost(const Options& options, const std::optional<XorgDummyServer::Options>& monitors)
    : port(Testing::unusedListenPort()),
      xvfb(monitors ? nullptr
                    : std::make_unique<XvfbServer>(XvfbServer::Options{
                          .width = options.width, .height = options.height, .disabledExtensions = {}})),
      xorg(monitors ? std::make_unique<XorgDummyServer>(*monitors) : nullptr),
      displayName(xvfb ? xvfb->displayName() : xorg->displayName()),
      desktop(displayName),
      environment(displayName, options.soundServer),
      updater_(options.updater) {
    // TESSALOY_TRACE=1 also shows the trace as it is written.
    Plovander::TraceLog::configure({.enabled = true,
                                    .file = traceFolder / "trace.log",
                                    .toStandardError = std::getenv("TESSALOY_TRACE") != nullptr});
    environment.defaults.setInteger("TessaloyListenPort", port);
    environment.defaults.setBoolean("TessaloyAllowRemoteControl", true);
}

DesktopHost::~DesktopHost() {
    finish();
    Plovander::TraceLog::configure({});
}

DesktopHost::Problem DesktopHost::start() {
    // Asked here, where blocking is harmless, so the answer is there before any device asks.
    probe = std::make_unique<CaptureProbe>(
        environment, captureQueue, audioQueue, TessaloyBase::steadyQueueClock(),
        [hevc = !TessaloyMedia::VideoEncoder::hardwareProblem(TessaloyCore::VideoCodec::hevc)] { return hevc; });
    session = std::make_unique<StreamingSession>(environment, *probe, updater_);
    if (!until([&] { return session->isReady(); })) return "the controller did not get ready";
    return std::nullopt;
}

void DesktopHost::finish() {
    if (session && (session->isSharing() || session->isAdvertising() || session->acceptsPairedDevices() ||
                    session->pendingPeerName())) {
        session->stopSharing(StreamingSession::StopReason::userStopped());
    }
    if (probe) until([&] { return !probe->isRunning() && !probe->isBusy(); }, 10s);
    session.reset();
    probe.reset();
    // Blocking calls still running (an update's staging, a wake check) post to this actor.
    Testing::finishBlockingWork();
    environment.actor.runUntilIdle();
}

void DesktopHost::pump() {
    const auto now = std::chrono::steady_clock::now();
    const auto elapsed = now - lastPump_;
    lastPump_ = now;
    environment.actor.advance(std::chrono::duration<double>(elapsed));
}

bool DesktopHost::until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        pump();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        // Work posted from other threads wakes this early.
        if (environment.actor.runUntil(done, 5ms)) return true;
    }
}

DesktopHost::Problem DesktopHost::startSharing() {
    const std::string advertising = "event=advertising(port: " + std::to_string(port) + ") phase=offering offer=true";
    const std::size_t before = traceCount(advertising);
    bool returned = false;
    Plovander::TaskHandle::detach([&](Plovander::CancellationToken) -> QCoro::Task<> {
        co_await session->startSharing("Test Mac");
        returned = true;
    });
    if (!until([&] { return returned && traceCount(advertising) > before; })) return "the offer was not advertised";
    if (session->phaseDescription() != "Waiting for a device on this network.") {
        return "the offer shows the phase " + session->phaseDescription();
    }
    if (!session->pairingLink()) return "the offer has no pairing link";
    return std::nullopt;
}

DeviceSimulator::Endpoint DesktopHost::endpoint() const { return {asio::ip::make_address("127.0.0.1"), port}; }

DesktopHost::Problem DesktopHost::pairAndWait(DeviceSimulator& device, std::optional<DeviceSimulator::Endpoint> via) {
    if (auto problem = startSharing()) return problem;
    const std::string exchange = "pairing exchange from " + device.name() + ", known=false";
    const std::size_t exchangesBefore = traceCount(exchange);
    const std::size_t controlsBefore = traceCount("control channel attached");
    // The certificate's name differs, so the device's own name shows that its exchange arrived.
    device.setCertificateName("Pairing " + device.name());
    if (!device.pair(via.value_or(endpoint()), *session->pairingLink())) return "the pairing link does not read";
    if (!isReady(device.channel(Role::media))) return "the media channel did not connect";
    if (!until([&] { return session->phaseDescription() == "A device is asking to connect."; })) {
        return "the Mac did not ask to approve the device: " + session->phaseDescription();
    }
    if (!until([&] {
            return traceCount(exchange) > exchangesBefore && traceCount("control channel attached") > controlsBefore;
        })) {
        return "the device's pairing exchange or control channel did not arrive";
    }
    if (session->pendingPeerName() != device.name()) {
        return "the Mac asks about " + session->pendingPeerName().value_or("nobody") + ", not " + device.name();
    }
    return std::nullopt;
}

DesktopHost::Problem DesktopHost::pairAndApprove(DeviceSimulator& device,
                                                 std::optional<DeviceSimulator::Endpoint> via) {
    if (auto problem = pairAndWait(device, via)) return problem;
    session->approvePeer();
    if (!until([&] { return session->isSharing(); })) return "the session did not stream: " + probe->status();
    return std::nullopt;
}

std::vector<std::string> DesktopHost::traceLines() const {
    Plovander::TraceLog::flush();
    std::vector<std::string> messages;
    std::ifstream file(traceFolder / "trace.log");
    for (std::string line; std::getline(file, line);) {
        if (line.size() >= tracePrefixLength) messages.push_back(line.substr(tracePrefixLength));
    }
    return messages;
}

std::size_t DesktopHost::traceCount(std::string_view message) const {
    std::size_t count = 0;
    for (const auto& line : traceLines()) count += line == message ? 1 : 0;
    return count;
}

std::vector<std::string> DesktopHost::tracedStartingWith(std::string_view prefix) const {
    std::vector<std::string> found;
    for (auto& line : traceLines()) {
        if (line.starts_with(prefix)) found.push_back(std::move(line));
    }
    return found;
}

} // namespace Testing
