#include "app/shell/StopSentences.h"
#include "tests/support/MemoryUserDefaults.h"

#include <gtest/gtest.h>

namespace {

using Plovander::rejectionMessage;
using Plovander::stopReasonText;
using StopReason = TessaloyNet::HostSessionState::StopReason;

TEST(StopSentences, OneSentencePerReason) {
    EXPECT_EQ(stopReasonText(StopReason::userStopped()), "Not sharing.");
    EXPECT_EQ(stopReasonText(StopReason::peerDisconnected()), "The device disconnected.");
    EXPECT_EQ(stopReasonText(StopReason::offerExpired()), "The code expired. Start sharing again for a new one.");
    EXPECT_EQ(stopReasonText(StopReason::rejected()), "Connection declined.");
    EXPECT_EQ(stopReasonText(StopReason::hostDisconnected()), "Disconnected. This Mac is still available.");
    EXPECT_EQ(stopReasonText(StopReason::failed("no display")), "Stopped: no display");
}

TEST(RejectionMessage, ACodeMismatchIsNamedOnlyWhileAnOfferIsOut) {
    const std::string mismatch = "A device tried a code that didn't match. Check the code and try again.";
    EXPECT_EQ(rejectionMessage("TLS error -9825", true), mismatch);
    EXPECT_EQ(rejectionMessage("TLS error -9825", false), "TLS error -9825");
    EXPECT_EQ(rejectionMessage("Bad Certificate", true), mismatch);
    EXPECT_EQ(rejectionMessage("bad certificate", false), "A device that isn't paired with this Mac tried to connect.");
    EXPECT_EQ(rejectionMessage("-9808", false), "A device that isn't paired with this Mac tried to connect.");
}

TEST(RejectionMessage, ConnectionsThatMerelyBrokeOffAreNotShown) {
    for (const char* reason : {"Connection Reset by peer", "handshake did not complete", "-9816", "CANCELLED",
                               "certificate required", "the device did not finish connecting"}) {
        EXPECT_EQ(rejectionMessage(reason, false), std::nullopt) << reason;
    }
    EXPECT_EQ(rejectionMessage("something new", false), "something new");
}

TEST(ListenPort, OnlyARealPortNumberReplacesTheDefault) {
    Testing::MemoryUserDefaults defaults;
    EXPECT_EQ(Plovander::listenPort(defaults), 55801);
    for (const std::int64_t bad : {0LL, -5LL, 65'536LL, 65'537LL, 1LL << 40}) {
        defaults.setInteger("TessaloyListenPort", bad);
        EXPECT_EQ(Plovander::listenPort(defaults), 55801) << bad;
    }
    for (const std::int64_t good : {1LL, 56'000LL, 65'535LL}) {
        defaults.setInteger("TessaloyListenPort", good);
        EXPECT_EQ(Plovander::listenPort(defaults), good);
    }
}

} // namespace
