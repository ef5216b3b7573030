#include "net/session/HostSessionState.h"

#include <stdexcept>

namespace TessaloyNet {

const char* nameOf(HostSessionTransition transition) noexcept {
    switch (transition) {
        case HostSessionTransition::notOffering:
            return "notOffering";
        case HostSessionTransition::notAwaitingApproval:
            return "notAwaitingApproval";
        case HostSessionTransition::notStreaming:
            return "notStreaming";
        case HostSessionTransition::offerUnavailable:
            return "offerUnavailable";
    }
    return "unknown";
}

const char* descriptionOf(HostSessionTransition transition) noexcept {
    switch (transition) {
        case HostSessionTransition::notOffering:
            return "No code is being offered.";
        case HostSessionTransition::notAwaitingApproval:
            return "No device is waiting for approval.";
        case HostSessionTransition::notStreaming:
            return "No session is running.";
        case HostSessionTransition::offerUnavailable:
            return "The code is no longer available.";
    }
    return "Something went wrong.";
}

std::string HostSessionState::StopReason::description() const {
    struct Describe {
        std::string operator()(const Failed& failed) const { return "failed(\"" + failed.description + "\")"; }
        std::string operator()(const UserStopped&) const { return "userStopped"; }
        std::string operator()(const PeerDisconnected&) const { return "peerDisconnected"; }
        std::string operator()(const OfferExpired&) const { return "offerExpired"; }
        std::string operator()(const Rejected&) const { return "rejected"; }
        std::string operator()(const HostDisconnected&) const { return "hostDisconnected"; }
    };
    return std::visit(Describe{}, value);
}

std::string HostSessionState::Phase::description() const {
    struct Describe {
        std::string operator()(const Idle&) const { return "idle"; }
        std::string operator()(const Offering&) const { return "offering"; }
        std::string operator()(const AwaitingApproval& phase) const {
            return "awaitingApproval(peerName: \"" + phase.peerName + "\")";
        }
        std::string operator()(const Streaming& phase) const {
            return "streaming(peerName: \"" + phase.peerName + "\")";
        }
        std::string operator()(const Stopped& phase) const {
            return "stopped(reason: " + phase.reason.description() + ")";
        }
    };
    return std::visit(Describe{}, value);
}

const PairingOffer& HostSessionState::startOffering(Date date) {
    offer_.emplace(PairingCode::random(), date);
    phase_ = {Phase::Offering{}};
    return *offer_;
}

void HostSessionState::beginHandshake(Date date) {
    if (!phase_.is<Phase::Offering>()) throw Transition(HostSessionTransition::notOffering);
    if (!offer_) throw Transition(HostSessionTransition::offerUnavailable);
    try {
        offer_->validate(date);
    } catch (const PairingOffer::Rejection&) {
        phase_ = {Phase::Stopped{StopReason::offerExpired()}};
        offer_.reset();
        throw;
    }
    offer_->attempts += 1;
}

void HostSessionState::handshakeSucceeded(std::string peerName) {
    if (!phase_.is<Phase::Offering>()) throw Transition(HostSessionTransition::notOffering);
    phase_ = {Phase::AwaitingApproval{std::move(peerName)}};
}

void HostSessionState::approve() {
    const auto* waiting = std::get_if<Phase::AwaitingApproval>(&phase_.value);
    if (!waiting) throw Transition(HostSessionTransition::notAwaitingApproval);
    if (sessionGeneration_ == UINT64_MAX) throw std::overflow_error("session generation overflow");
    if (offer_) {
        if (offer_->consumed) throw PairingOffer::Rejection(PairingOfferRejection::alreadyUsed);
        offer_->consumed = true;
    }
    std::string peerName = waiting->peerName;
    offer_.reset();
    sessionGeneration_ += 1;
    phase_ = {Phase::Streaming{std::move(peerName)}};
}

void HostSessionState::reject() {
    if (!phase_.is<Phase::AwaitingApproval>()) throw Transition(HostSessionTransition::notAwaitingApproval);
    phase_ = {Phase::Stopped{StopReason::rejected()}};
    offer_.reset();
}

void HostSessionState::stop(StopReason reason) {
    offer_.reset();
    phase_ = {Phase::Stopped{std::move(reason)}};
}

void HostSessionState::reset() {
    offer_.reset();
    phase_ = {Phase::Idle{}};
}

} // namespace TessaloyNet
