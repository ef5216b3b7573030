#include "tests/app/shell/StreamingSessionFixture.h"

#include "core/SessionMessage.h"
#include "core/TransferMessage.h"

#include <algorithm>

namespace {

using Testing::StreamingSessionTest;
using Kind = TessaloyCore::WirePacket::Kind;

// Every packet kind on every role in each phase a device can send in: accepted (the decoder's
// complaint about a malformed payload, or what the message does) or refused with the table's trace
// line or in silence.
TEST_F(StreamingSessionTest, EachPacketKindPassesOnlyItsRoleAndPhase) {
    enum class Phase { awaitingApproval, streaming, streamingWithoutRemoteControl };
    struct Row {
        Phase phase;
        Role role;
        Kind kind;
        std::vector<std::string> trace;
    };
    const std::vector<Row> rows = {
        {Phase::awaitingApproval, Role::media, Kind::pairingExchange, {"pairing exchange from Ada, known=false"}},
        {Phase::awaitingApproval, Role::media, Kind::input, {"ignored an input event on the media channel"}},
        {Phase::awaitingApproval, Role::media, Kind::session, {"ignored a session message on the media channel"}},
        {Phase::awaitingApproval, Role::media, Kind::transfer, {"ignored a transfer on the media channel"}},
        {Phase::awaitingApproval, Role::media, Kind::ping, {}},
        {Phase::awaitingApproval,
         Role::control,
         Kind::pairingExchange,
         {"ignored a pairing exchange on the control channel"}},
        {Phase::awaitingApproval, Role::control, Kind::input, {}},
        {Phase::awaitingApproval,
         Role::control,
         Kind::session,
         {"ignored a session message before the session was approved"}},
        {Phase::awaitingApproval, Role::control, Kind::transfer, {"ignored a transfer on the control channel"}},
        {Phase::awaitingApproval, Role::control, Kind::endSession, {}},
        {Phase::streaming,
         Role::media,
         Kind::pairingExchange,
         {"ignored a pairing exchange outside the approval stage"}},
        {Phase::streaming, Role::media, Kind::input, {"ignored an input event on the media channel"}},
        {Phase::streaming, Role::media, Kind::session, {"ignored a session message on the media channel"}},
        {Phase::streaming, Role::media, Kind::transfer, {"rejected a malformed transfer message"}},
        {Phase::streaming, Role::media, Kind::cursorUpdate, {}},
        {Phase::streaming, Role::control, Kind::pairingExchange, {"ignored a pairing exchange on the control channel"}},
        {Phase::streaming, Role::control, Kind::input, {"rejected a malformed input event"}},
        {Phase::streaming, Role::control, Kind::session, {}},
        {Phase::streaming, Role::control, Kind::transfer, {"ignored a transfer on the control channel"}},
        {Phase::streaming, Role::control, Kind::videoFrame, {}},
        {Phase::streamingWithoutRemoteControl, Role::control, Kind::input, {}},
    };
    const Device ada{"Ada"};
    const auto packetOf = [&](Kind kind) {
        if (kind == Kind::pairingExchange) return TessaloyNet::PairingExchange(ada.key, ada.name).packet();
        if (kind == Kind::session) {
            return TessaloyCore::SessionMessage{TessaloyCore::SessionMessage::ListDisplays{}}.packet();
        }
        return TessaloyCore::WirePacket(kind, {0xFF}); // malformed for the kinds that get decoded
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "phase " << static_cast<int>(row.phase) << ", " << nameOf(row.role)
                                        << " channel, " << nameOf(row.kind));
        renew();
        Channel media;
        Channel control;
        if (row.phase != Phase::awaitingApproval) {
            std::tie(media, control) = pairAndApprove(ada);
            session->setAllowsRemoteControl(row.phase == Phase::streaming);
        } else {
            startSharing();
            media = connect(Role::media, "Pairing", ada.key);
            control = connect(Role::control, "Pairing", ada.key);
        }
        const std::size_t repliesBefore = control->sent(Testing::FakePacketChannel::Route::direct).size();
        newTrace();
        receive(row.role == Role::media ? media : control, row.role, packetOf(row.kind));
        EXPECT_EQ(newTrace(), row.trace);
        if (row.phase == Phase::streaming && row.role == Role::control && row.kind == Kind::session) {
            EXPECT_EQ(control->sent(Testing::FakePacketChannel::Route::direct).size(), repliesBefore + 1)
                << "the display list goes back";
        }
    }
}

TEST_F(StreamingSessionTest, AnOfferWhoseNameIsNotUtf8IsRefusedAsFailed) {
    using TessaloyCore::TransferMessage;
    const auto media = pairAndApprove(Device{"Ada"}).first;
    auto payload = TransferMessage::offer({31, TessaloyCore::TransferPurpose::file, "a.txt", "", 5}).encoded();
    *std::find(payload.begin(), payload.end(), 'a') = 0xFF;
    newTrace();
    receive(media, Role::media, TessaloyCore::WirePacket(Kind::transfer, payload));
    EXPECT_EQ(newTrace(), std::vector<std::string>{"rejected a malformed transfer message"});
    const auto sent = media->pull(1'000);
    const auto refusal = TransferMessage::cancel(31, TessaloyCore::TransferCancelReason::failed).packet();
    EXPECT_NE(std::find(sent.begin(), sent.end(), refusal), sent.end());
}

TEST_F(StreamingSessionTest, ARepeatedPairingExchangeKeepsTheFirstKeyAndName) {
    startSharing();
    const Device first{"First"};
    const Device second{"Second"};
    const auto media = connect(Role::media, "Pairing", first.key);
    receive(media, Role::media, TessaloyNet::PairingExchange(first.key, first.name).packet());
    newTrace();
    receive(media, Role::media, TessaloyNet::PairingExchange(second.key, second.name).packet());
    EXPECT_EQ(newTrace(), std::vector<std::string>{"ignored a repeated pairing exchange"});
    EXPECT_EQ(session->pendingPeerName(), "First");

    session->approvePeer();
    ASSERT_TRUE(until([&] { return session->isSharing(); }));
    ASSERT_EQ(session->pairedDevices().size(), 1u);
    EXPECT_EQ(session->pairedDevices()[0].publicKey, first.key);
}

} // namespace
