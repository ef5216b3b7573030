#include "app/services/ConnectRegistration.h"

#include "app/services/LocalInterfaces.h"
#include "app/trace/TraceLog.h"
#include "base/QueueClock.h"
#include "core/CaseError.h"
#include "net/reach/DirectCandidates.h"
#include "net/relay/MeetingIdentity.h"

#include <asio/post.hpp>

#include <atomic>
#include <utility>

namespace Plovander {

using TessaloyNet::RelayControlClient;
using TessaloyNet::RelayEndpoint;

namespace {

// The client's back-off, keep-alive and connect time-out, and the deadlines of the answers, on the
// main actor's clock, like every other delay of the controller, so tests move them in virtual time.
// The work itself still runs on the client's and the answers' queues.
class MainActorQueueClock final : public TessaloyBase::QueueClock {
public:
    explicit MainActorQueueClock(TessaloyBase::MainActor& actor) : actor_(actor) {}

    // The actor's date read as an instant, so virtual time moves it too.
    Instant now() const override {
        return Instant(std::chrono::duration_cast<Instant::duration>(actor_.now().time_since_epoch()));
    }

    TessaloyBase::ScheduledCall after(TessaloyBase::SerialQueue& queue, Duration delay,
                                      std::function<void()> work) override {
        auto state = std::make_shared<TessaloyBase::ScheduledCall::State>();
        auto call = std::make_shared<TessaloyBase::ScheduledCall>(
            actor_.after(delay, [state, executor = queue.executor(), work = std::move(work)] {
                asio::post(executor, [state, work] {
                    if (!state->cancelled) work();
                });
            }));
        state->release = [call] { call->cancel(); };
        return TessaloyBase::ScheduledCall(std::move(state));
    }

private:
    TessaloyBase::MainActor& actor_;
};

// The router's status, then whether any global IPv6 address is offered.
std::string directSummary(const RouterPort::State& router, const std::vector<std::string>& addresses) {
    const std::string ipv6 = addresses.empty() ? "no IPv6" : "IPv6";
    const auto status = RouterPort::statusText(router);
    return status ? *status + " · " + ipv6 : ipv6;
}

void traceListenerTooLate() {
    TraceLog::message("relay: a call was not answered: the listener took too long to start");
}

} // namespace

ConnectRegistration::ConnectRegistration(Collaborators collaborators)
    : c_(std::move(collaborators)),
      answers_(TessaloyNet::RelayAnswers::create(std::make_shared<MainActorQueueClock>(c_.actor))) {
    c_.routerPort.onChange = [this] { publishCandidates(); };
}

ConnectRegistration::~ConnectRegistration() {
    lifetime_.cancel();
    c_.routerPort.onChange = nullptr;
    dropClient();
}

void ConnectRegistration::dropClient() {
    if (client_) client_->stop();
    client_.reset();
    heldCalls_.clear();
}

void ConnectRegistration::publishCandidates() {
    if (!client_) return;
    const RouterPort::State router = c_.routerPort.state();
    const std::vector<std::string> addresses = directCandidates(c_.interfaces, c_.listenerPort());
    std::vector<std::string> candidates;
    if (router.kind == RouterPort::State::Kind::mapped) candidates.push_back(router.candidate);
    candidates.insert(candidates.end(), addresses.begin(), addresses.end());
    if (candidates.size() > TessaloyNet::DirectCandidates::maximumCount) {
        candidates.resize(TessaloyNet::DirectCandidates::maximumCount);
    }
    client_->updateCandidates(std::move(candidates));
    c_.showDirect(directSummary(router, addresses));
}

void ConnectRegistration::networkChanged() {
    if (!client_) return;
    c_.routerPort.refresh();
    publishCandidates();
}

void ConnectRegistration::updateConnectRegistration() {
    registerDevices();
    c_.routerPort.update(client_ && c_.opensRouterPort(), c_.listenerPort());
}

void ConnectRegistration::registerDevices() {
    const auto endpoint = RelayEndpoint::configured(c_.defaults.boolean(RelayEndpoint::enabledKey),
                                                    c_.defaults.text(RelayEndpoint::overrideKey));
    if (!endpoint || (client_ && client_->relay() != *endpoint)) {
        dropClient();
        c_.showStatus("");
        c_.showDirect(std::nullopt);
    }
    const TessaloyNet::DeviceIdentity* identity = c_.identity();
    if (!endpoint || !identity) return;
    std::vector<TessaloyCore::Bytes> meetingIDs;
    for (const TessaloyCore::Bytes& key : c_.pairedKeys()) {
        try {
            meetingIDs.push_back(TessaloyNet::MeetingIdentity::meetingID(*identity, key));
        } catch (const std::exception& error) {
            TraceLog::message([&] { return std::string("relay: left out a device: ") + error.what(); });
        }
    }
    if (client_) return client_->update(std::move(meetingIDs));
    try {
        client_ = RelayControlClient::create(*endpoint, std::make_shared<MainActorQueueClock>(c_.actor));
    } catch (const std::exception& error) {
        TraceLog::message([&] { return std::string("relay: could not start: ") + error.what(); });
        return;
    }
    // Both callbacks run on the client's queue: they hop to the main actor, and act only while
    // the reporting client is still the current one.
    const std::weak_ptr<RelayControlClient> reporter = client_;
    client_->setOnState(
        [this, &actor = c_.actor, lifetime = lifetime_, reporter](const RelayControlClient::State& state) {
            actor.post(lifetime.guard([this, reporter, state] {
                if (client_ && client_ == reporter.lock()) show(state);
            }));
        });
    client_->setOnIncoming(
        [this, &actor = c_.actor, lifetime = lifetime_, reporter](TessaloyCore::Bytes sessionID, TessaloyCore::Bytes,
                                                                  TessaloyConnectWire::ConnectChannel channel) {
            actor.post(lifetime.guard([this, reporter, sessionID = std::move(sessionID), channel] {
                if (client_ && client_ == reporter.lock()) answer(sessionID, channel);
            }));
        });
    client_->start(std::move(meetingIDs));
    publishCandidates();
}

void ConnectRegistration::answer(const TessaloyCore::Bytes& sessionID, TessaloyConnectWire::ConnectChannel channel) {
    if (c_.listenerAccepts()) return bridge(sessionID, channel);
    // Bridged now, the call would only meet a closed port. The relay decides how often calls come.
    if (heldCalls_.size() >= maximumHeldCalls) {
        TraceLog::coalesced("relay: too many calls wait",
                            "relay: a call was not answered: too many calls wait for the listener");
        return;
    }
    TraceLog::coalesced("relay: a call waits", "relay: a call waits for the listener");
    // Every call waits as long, so the one whose patience runs out is always the oldest.
    heldCalls_.push_back({sessionID, channel, c_.actor.now(), c_.actor.after(heldCallPatience, lifetime_.guard([this] {
                              heldCalls_.erase(heldCalls_.begin());
                              traceListenerTooLate();
                          }))});
}

void ConnectRegistration::listenerListens() {
    for (const HeldCall& call : std::exchange(heldCalls_, {})) {
        // A late expiry lets no stale call through, and the relay has only the rest of the call's
        // patience to reply: the device gives up on the call then.
        const TessaloyBase::MainActor::Duration patience = heldCallPatience - (c_.actor.now() - call.arrived);
        if (patience <= TessaloyBase::MainActor::Duration::zero()) {
            traceListenerTooLate();
            continue;
        }
        bridge(call.sessionID, call.channel, patience);
    }
}

void ConnectRegistration::bridge(const TessaloyCore::Bytes& sessionID, TessaloyConnectWire::ConnectChannel channel,
                                 std::optional<TessaloyBase::MainActor::Duration> patience) {
    auto onFailure = [this, &actor = c_.actor, lifetime = lifetime_](const TessaloyNet::RelayAnswer::Failure& failure) {
        // The relay decides how often calls fail.
        TraceLog::coalesced("relay: " + failure.description(),
                            [&] { return "relay: a call was not answered: " + failure.description(); });
        if (failure.kind != TessaloyNet::RelayAnswer::Failure::Kind::listenerUnreachable) return;
        actor.post(lifetime.guard([this] {
            TraceLog::message("the listener didn't take a relayed call; restarting it");
            c_.restartListener();
        }));
    };
    try {
        if (answers_->answer(client_->relay(), sessionID, channel, c_.listenerPort(), std::move(onFailure),
                             c_.bridgeSource(), patience)) {
            return;
        }
        TraceLog::coalesced("relay: refused a call", [] {
            return "relay: refused a call: " + std::to_string(TessaloyNet::RelayAnswers::maximumInFlight) +
                   " calls are being answered already";
        });
    } catch (const std::exception& error) {
        TraceLog::message([&] { return "relay: could not answer a call: " + TessaloyCore::describe(error); });
    }
}

void ConnectRegistration::show(const RelayControlClient::State& state) {
    switch (state.kind) {
        case RelayControlClient::State::Kind::connecting:
            c_.showStatus("Connecting…");
            break;
        case RelayControlClient::State::Kind::online:
            c_.showStatus("On");
            break;
        case RelayControlClient::State::Kind::offline:
            c_.showStatus("Offline, retrying");
            break;
    }
    TraceLog::message([&] {
        return std::string("relay: ") +
               (state.kind == RelayControlClient::State::Kind::offline  ? "offline: " + state.reason
                : state.kind == RelayControlClient::State::Kind::online ? std::string("online")
                                                                        : std::string("connecting"));
    });
}

} // namespace Plovander
