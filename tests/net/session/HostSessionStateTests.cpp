#include "net/session/HostSessionState.h"
#include "tests/support/ProblemOf.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using TessaloyNet::HostSessionState;
using TessaloyNet::HostSessionTransition;
using TessaloyNet::PairingOffer;
using TessaloyNet::PairingOfferRejection;
using Phase = HostSessionState::Phase;
using StopReason = HostSessionState::StopReason;
using Testing::problemOf;

const HostSessionState::Date start{std::chrono::seconds(1'767'225'600)};

HostSessionState awaiting(std::string name = "Ada's iPhone") {
    HostSessionState state;
    state.startOffering(start);
    state.beginHandshake(start + 1s);
    state.handshakeSucceeded(std::move(name));
    return state;
}

TEST(HostSessionState, StartsIdleWithoutOfferOrGeneration) {
    const HostSessionState state;
    EXPECT_EQ(state.phase(), Phase{Phase::Idle{}});
    EXPECT_FALSE(state.offer().has_value());
    EXPECT_EQ(state.sessionGeneration(), 0u);
    EXPECT_FALSE(state.allowsScreenContent());
}

TEST(HostSessionState, PairsFromOfferToStreaming) {
    HostSessionState state;
    const PairingOffer offer = state.startOffering(start);
    EXPECT_EQ(state.phase(), Phase{Phase::Offering{}});
    EXPECT_EQ(offer.createdAt, start);
    EXPECT_EQ(offer.salt.size(), 16u);
    EXPECT_EQ(offer.attempts, 0);

    state.beginHandshake(start + 10s);
    EXPECT_EQ(state.offer()->attempts, 1);
    state.handshakeSucceeded("Ada's iPhone");
    EXPECT_EQ(state.phase(), Phase{Phase::AwaitingApproval{"Ada's iPhone"}});
    EXPECT_TRUE(state.offer().has_value());
    EXPECT_FALSE(state.allowsScreenContent());

    state.approve();
    EXPECT_EQ(state.phase(), Phase{Phase::Streaming{"Ada's iPhone"}});
    EXPECT_FALSE(state.offer().has_value());
    EXPECT_EQ(state.sessionGeneration(), 1u);
    EXPECT_TRUE(state.allowsScreenContent());
}

TEST(HostSessionState, HandshakesOutsideAnOfferAreRefusedWithoutChange) {
    HostSessionState idle;
    EXPECT_EQ(problemOf<HostSessionState::Transition>([&] { idle.beginHandshake(start); }),
              HostSessionTransition::notOffering);
    EXPECT_EQ(idle.phase(), Phase{Phase::Idle{}});
    EXPECT_EQ(problemOf<HostSessionState::Transition>([&] { idle.handshakeSucceeded("x"); }),
              HostSessionTransition::notOffering);

    HostSessionState streaming = awaiting();
    streaming.approve();
    EXPECT_EQ(problemOf<HostSessionState::Transition>([&] { streaming.beginHandshake(start); }),
              HostSessionTransition::notOffering);
    EXPECT_EQ(streaming.phase(), Phase{Phase::Streaming{"Ada's iPhone"}});
}

TEST(HostSessionState, TheEleventhHandshakeStopsTheOffer) {
    HostSessionState state;
    state.startOffering(start);
    for (int i = 0; i < 10; ++i) state.beginHandshake(start + 1s);
    EXPECT_EQ(state.offer()->attempts, 10);
    EXPECT_EQ(problemOf<PairingOffer::Rejection>([&] { state.beginHandshake(start + 1s); }),
              PairingOfferRejection::attemptsExhausted);
    EXPECT_EQ(state.phase(), Phase{Phase::Stopped{StopReason::offerExpired()}});
    EXPECT_FALSE(state.offer().has_value());
}

TEST(HostSessionState, TheOfferExpiresAtExactlyThreeHundredSeconds) {
    HostSessionState early;
    early.startOffering(start);
    EXPECT_NO_THROW(early.beginHandshake(start + 299'999ms));

    HostSessionState late;
    late.startOffering(start);
    EXPECT_EQ(problemOf<PairingOffer::Rejection>([&] { late.beginHandshake(start + 300s); }),
              PairingOfferRejection::expired);
    EXPECT_EQ(late.phase(), Phase{Phase::Stopped{StopReason::offerExpired()}});
}

TEST(HostSessionState, AConsumedOfferCannotBeApprovedAgain) {
    HostSessionState state;
    state.startOffering(start);
    state.beginHandshake(start);
    state.handshakeSucceeded("Ada's iPhone");
    // The only way to see a consumed offer here is a copy of the value made after an approval
    // elsewhere; the offer itself refuses.
    PairingOffer consumed = *state.offer();
    consumed.consumed = true;
    EXPECT_THROW(consumed.validate(start), PairingOffer::Rejection);

    HostSessionState twice = awaiting();
    auto copy = twice;
    copy.approve();
    twice.approve();
    EXPECT_EQ(twice.sessionGeneration(), 1u);
}

TEST(HostSessionState, ApproveAndRejectNeedAWaitingDevice) {
    HostSessionState offering;
    offering.startOffering(start);
    EXPECT_EQ(problemOf<HostSessionState::Transition>([&] { offering.approve(); }),
              HostSessionTransition::notAwaitingApproval);
    EXPECT_EQ(problemOf<HostSessionState::Transition>([&] { offering.reject(); }),
              HostSessionTransition::notAwaitingApproval);
    EXPECT_EQ(offering.phase(), Phase{Phase::Offering{}});

    HostSessionState streaming = awaiting();
    streaming.approve();
    EXPECT_EQ(problemOf<HostSessionState::Transition>([&] { streaming.approve(); }),
              HostSessionTransition::notAwaitingApproval);

    HostSessionState declined = awaiting();
    declined.reject();
    EXPECT_EQ(declined.phase(), Phase{Phase::Stopped{StopReason::rejected()}});
    EXPECT_FALSE(declined.offer().has_value());
}

TEST(HostSessionState, GenerationCountsApprovalsOnly) {
    HostSessionState state = awaiting();
    state.approve();
    state.startOffering(start + 1min);
    state.beginHandshake(start + 1min);
    state.handshakeSucceeded("Ada's iPad");
    state.approve();
    EXPECT_EQ(state.sessionGeneration(), 2u);
    state.stop(StopReason::userStopped());
    EXPECT_EQ(state.phase(), Phase{Phase::Stopped{StopReason::userStopped()}});
    state.reset();
    EXPECT_EQ(state.phase(), Phase{Phase::Idle{}});
    EXPECT_EQ(state.sessionGeneration(), 2u);
}

TEST(HostSessionState, StopReasonsCompareTheirPayload) {
    EXPECT_EQ(StopReason::failed("a"), StopReason::failed("a"));
    EXPECT_NE(StopReason::failed("a"), StopReason::failed("b"));
    EXPECT_NE(StopReason::failed("a"), StopReason::userStopped());
    EXPECT_EQ(Phase{Phase::Stopped{StopReason::failed("a")}}.description(), "stopped(reason: failed(\"a\"))");
    EXPECT_EQ(Phase{Phase::AwaitingApproval{"Ada"}}.description(), "awaitingApproval(peerName: \"Ada\")");
}

} // namespace
