#pragma once

#include "core/CaseError.h"
#include "net/channel/PairingOffer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace TessaloyNet {

enum class HostSessionTransition { notOffering, notAwaitingApproval, notStreaming, offerUnavailable };
const char* nameOf(HostSessionTransition transition) noexcept;
// The sentence for the user.
const char* descriptionOf(HostSessionTransition transition) noexcept;

// The state of one pairing or streaming session. A plain value owned by the controller on the main
// actor; its transitions take the time as an argument and throw when refused, changing nothing
// (except beginHandshake, which stops the session when the offer refuses).
class HostSessionState {
public:
    using Date = PairingOffer::Date;
    using Transition = TessaloyCore::CaseError<HostSessionTransition>;

    struct StopReason {
        struct Failed {
            std::string description;
            friend bool operator==(const Failed&, const Failed&) = default;
        };
        struct UserStopped {
            friend bool operator==(const UserStopped&, const UserStopped&) = default;
        };
        struct PeerDisconnected {
            friend bool operator==(const PeerDisconnected&, const PeerDisconnected&) = default;
        };
        struct OfferExpired {
            friend bool operator==(const OfferExpired&, const OfferExpired&) = default;
        };
        struct Rejected {
            friend bool operator==(const Rejected&, const Rejected&) = default;
        };
        struct HostDisconnected {
            friend bool operator==(const HostDisconnected&, const HostDisconnected&) = default;
        };
        using Value = std::variant<Failed, UserStopped, PeerDisconnected, OfferExpired, Rejected, HostDisconnected>;

        Value value;

        static StopReason failed(std::string description) { return {Failed{std::move(description)}}; }
        static StopReason userStopped() { return {UserStopped{}}; }
        static StopReason peerDisconnected() { return {PeerDisconnected{}}; }
        static StopReason offerExpired() { return {OfferExpired{}}; }
        static StopReason rejected() { return {Rejected{}}; }
        static StopReason hostDisconnected() { return {HostDisconnected{}}; }

        // The case name, with a failure's text in parentheses: failed("no display").
        std::string description() const;

        friend bool operator==(const StopReason&, const StopReason&) = default;
    };

    struct Phase {
        struct Idle {
            friend bool operator==(const Idle&, const Idle&) = default;
        };
        struct Offering {
            friend bool operator==(const Offering&, const Offering&) = default;
        };
        struct AwaitingApproval {
            std::string peerName;
            friend bool operator==(const AwaitingApproval&, const AwaitingApproval&) = default;
        };
        struct Streaming {
            std::string peerName;
            friend bool operator==(const Streaming&, const Streaming&) = default;
        };
        struct Stopped {
            StopReason reason;
            friend bool operator==(const Stopped&, const Stopped&) = default;
        };
        using Value = std::variant<Idle, Offering, AwaitingApproval, Streaming, Stopped>;

        Value value;

        template <typename Case>
        bool is() const noexcept {
            return std::holds_alternative<Case>(value);
        }
        // The default textual form: the case name, with its payload in parentheses.
        std::string description() const;

        friend bool operator==(const Phase&, const Phase&) = default;
    };

    const Phase& phase() const noexcept { return phase_; }
    const std::optional<PairingOffer>& offer() const noexcept { return offer_; }
    std::uint64_t sessionGeneration() const noexcept { return sessionGeneration_; }
    bool allowsScreenContent() const noexcept { return phase_.is<Phase::Streaming>(); }

    const PairingOffer& startOffering(Date date);
    void beginHandshake(Date date);
    void handshakeSucceeded(std::string peerName);
    void approve();
    void reject();
    void stop(StopReason reason);
    void reset();

private:
    Phase phase_{Phase::Idle{}};
    std::optional<PairingOffer> offer_;
    std::uint64_t sessionGeneration_ = 0;
};

} // namespace TessaloyNet
