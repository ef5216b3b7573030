#include "tests/integration/MainRoadHarness.h"

#include "net/channel/P256PrivateKey.h"
#include "net/channel/PairedDeviceStore.h"
#include "net/channel/PairingLink.h"

// The roads off the main one, on a real desktop: a wrong code, a declined device, a device beyond
// the pairing limit and a device without a durable key. Each shows its sentence and writes its
// trace lines; the last two still stream.
namespace {

using namespace std::chrono_literals;
using Integration::DesktopSessionTest;
using Testing::DeviceMediaReceiver;
using Testing::DeviceSimulator;
using Role = TessaloyCore::ChannelRole;

constexpr std::uint32_t teal = 0x20a0a0;
const std::string mismatchSentence = "A device tried a code that didn't match. Check the code and try again.";
const std::string limitSentence = "This Mac already has 3 paired devices. Forget one below to pair another.";

class MainRoadRefusals : public DesktopSessionTest {
protected:
    MainRoadRefusals() { desktop.showWindow(whole, teal); }

    // Whether the device decodes the desktop.
    bool deviceSeesTheDesktop(DeviceSimulator& device) {
        const auto picture = pictureShowing(device, whole, teal);
        const auto tally = device.media().tally();
        return picture && tally.failures == 0;
    }

    // Devices paired before, behind the session's back.
    void storeDevices(int count) {
        for (int i = 0; i < count; ++i) {
            session->trusted().add(
                {.publicKey = TessaloyNet::P256PrivateKey::generate().publicKey().x963Representation(),
                 .name = "Phone " + std::to_string(i),
                 .pairedAt = environment.actor.now(),
                 .lastSeenAt = {}});
        }
        session->reloadPairedDevices();
    }

    const Bounds whole{0, 0, screenWidth, screenHeight};
};

TEST_F(MainRoadRefusals, AWrongCodeIsRefusedAndTheOfferStaysOpen) {
    startSharing();
    const std::string code = *session->pairingCode();
    const auto link = TessaloyNet::PairingLink::parse(*session->pairingLink());
    ASSERT_TRUE(link);
    std::string symbols = link->code.symbols();
    symbols[0] = symbols[0] == '2' ? '3' : '2';
    const auto wrong = TessaloyNet::PairingCode::parse(symbols);
    ASSERT_TRUE(wrong);

    DeviceSimulator guesser("Guesser");
    guesser.pair(endpoint(), *wrong, link->salt);
    ASSERT_TRUE(until([&] { return session->lastRejection() == mismatchSentence; }));
    EXPECT_TRUE(guesser.channel(Role::media)->log.waitForClose()) << "the listener let a wrong code in";
    EXPECT_TRUE(
        traced("event=rejected(reason: \"The device's certificate does not match the pairing code.\") phase=offering "
               "offer=true"));
    EXPECT_TRUE(traced("event=attempting phase=offering offer=true"));
    EXPECT_FALSE(deviceGotTheMacKey(guesser));

    // The offer is still open, unchanged, and the right code gets through.
    EXPECT_TRUE(session->isAdvertising());
    EXPECT_EQ(session->pairingCode(), code);
    EXPECT_EQ(session->phaseDescription(), "Waiting for a device on this network.");
    EXPECT_TRUE(session->state().phase().is<TessaloyNet::HostSessionState::Phase::Offering>());
    EXPECT_FALSE(session->pendingPeerName());
    DeviceSimulator device("Ada's iPhone");
    ASSERT_TRUE(device.pair(endpoint(), *session->pairingLink()));
    EXPECT_TRUE(until([&] { return session->phaseDescription() == "A device is asking to connect."; }));
}

TEST_F(MainRoadRefusals, ADeclinedDeviceIsToldAndForgotten) {
    DeviceSimulator device("Ada's iPhone");
    ASSERT_NO_FATAL_FAILURE(pairAndWait(device));
    session->declinePeer();
    EXPECT_EQ(session->phaseDescription(), "Connection declined.");
    EXPECT_TRUE(traced("stopSharing(rejected) sharing=false advertising=false starting=false"));
    EXPECT_TRUE(deviceLearnsTheEnd(device, TessaloyCore::SessionEnd::Reason::rejected));
    EXPECT_TRUE(device.channel(Role::media)->log.waitForClose());
    EXPECT_TRUE(device.channel(Role::control)->log.waitForClose());
    EXPECT_FALSE(session->pendingPeerName());
    EXPECT_FALSE(session->isSharing());
    EXPECT_TRUE(session->pairedDevices().empty());
    EXPECT_FALSE(deviceGotTheMacKey(device));
    EXPECT_FALSE(probe->isRunning());
    EXPECT_EQ(device.media().tally().frames, 0u);
}

TEST_F(MainRoadRefusals, AFourthDeviceStreamsButIsNotRemembered) {
    DeviceSimulator device("Ada's iPhone");
    ASSERT_NO_FATAL_FAILURE(pairAndWait(device));
    // Three devices were paired meanwhile (the offer was made with none).
    storeDevices(3);
    session->approvePeer();
    ASSERT_TRUE(until([&] { return session->isSharing(); })) << probe->status();
    EXPECT_EQ(session->lastRejection(), limitSentence);
    EXPECT_TRUE(traced("pairing limit reached; Ada's iPhone not remembered"));
    EXPECT_FALSE(traced("stored Ada's iPhone and sent this Mac's key back"));
    EXPECT_EQ(session->phaseDescription(), "Sharing this display.");
    EXPECT_TRUE(deviceSeesTheDesktop(device));
    ASSERT_EQ(session->pairedDevices().size(), 3u);
    for (const auto& paired : session->pairedDevices()) EXPECT_NE(paired.publicKey, device.identity().publicKey());
    EXPECT_FALSE(deviceGotTheMacKey(device)) << "a device that is not remembered gets no key to come back with";
}

TEST_F(MainRoadRefusals, ADeviceWithoutADurableKeyStreamsAndIsNotRemembered) {
    DeviceSimulator device("Bo's iPhone");
    device.setSendsPairingExchange(false);
    startSharing();
    ASSERT_TRUE(device.pair(endpoint(), *session->pairingLink()));
    ASSERT_TRUE(until([&] {
        return session->phaseDescription() == "A device is asking to connect." && traced("control channel attached");
    }));
    EXPECT_EQ(session->pendingPeerName(), "Bo's iPhone");
    session->approvePeer();
    ASSERT_TRUE(until([&] { return session->isSharing(); })) << probe->status();
    EXPECT_TRUE(traced("no durable key from this peer; nothing to pair"));
    EXPECT_FALSE(session->lastRejection()) << *session->lastRejection();
    EXPECT_EQ(session->connectedPeerName(), "Bo's iPhone");
    EXPECT_TRUE(deviceSeesTheDesktop(device));
    EXPECT_TRUE(session->pairedDevices().empty());
    EXPECT_FALSE(deviceGotTheMacKey(device));
}

} // namespace
