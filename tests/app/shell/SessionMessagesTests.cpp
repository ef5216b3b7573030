#include "tests/app/shell/StreamingSessionFixture.h"

#include "core/InputEvent.h"
#include "core/SessionMessage.h"
#include "tests/support/FakeDisplays.h"
#include "tests/support/FakePasteboard.h"
#include "tests/support/FakeScreenCapture.h"

#include <algorithm>
#include <future>

namespace {

using Testing::FakePacketChannel;
using Testing::StreamingSessionTest;
using Message = TessaloyCore::SessionMessage;
using TessaloyCore::QualityMode;
using TessaloyCore::VideoCodec;

constexpr const char* beforeApproval = "ignored a session message before the session was approved";

class SessionMessagesTest : public StreamingSessionTest {
protected:
    void TearDown() override {
        releaseCapture();
        StreamingSessionTest::TearDown();
    }

    // Approves a device while capture cannot start: the session streams, but is not sharing yet.
    std::pair<Channel, Channel> approveWithCaptureHeld(const Device& device) {
        startSharing();
        // The channels show the certificate made from the code, not a key this Mac may know.
        const Device pairing{"Pairing"};
        auto media = connect(Role::media, pairing.name, pairing.key);
        auto control = connect(Role::control, pairing.name, pairing.key);
        receive(media, Role::media, TessaloyNet::PairingExchange(device.key, device.name).packet());
        holdCapture();
        session->approvePeer();
        environment.actor.runUntilIdle();
        return {media, control};
    }

    // Capture work waits until releaseCapture().
    void holdCapture() {
        held_.emplace();
        captureQueue.async([held = held_->get_future().share()] { held.wait(); });
    }

    void releaseCapture() {
        if (held_) held_->set_value();
        held_.reset();
    }

    void send(const Channel& control, Message::Value value) {
        receive(control, Role::control, Message{std::move(value)}.packet());
    }

    // The session messages sent at once on `channel`, in order.
    static std::vector<Message> replies(const FakePacketChannel& channel) {
        std::vector<Message> messages;
        for (const auto& packet : channel.sent(FakePacketChannel::Route::direct)) {
            if (packet.kind() == TessaloyCore::WirePacket::Kind::session) messages.push_back(Message::decode(packet));
        }
        return messages;
    }

    static bool contains(const std::vector<std::string>& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

private:
    std::optional<std::promise<void>> held_;
};

// Before approval nothing is accepted; while capture starts after approval only the device's
// preferences are; once sharing, everything is.
TEST_F(SessionMessagesTest, EachMessageIsAdmittedOnlyInItsPhase) {
    enum class Phase { awaitingApproval, startingCapture, sharing };
    struct Row {
        Phase phase;
        Message::Value message;
        // The line that shows what became of it; empty: accepted without a line of its own.
        std::string trace;
        bool encodesHevcInHardware = true;
    };
    const Message::Value quality = Message::Quality{QualityMode::saver};
    const Message::Value sound = Message::Sound{false};
    const Message::Value codecs = Message::VideoCodecs{{VideoCodec::hevc}};
    const Message::Value pointer = Message::DrawsPointer{};
    const Message::Value list = Message::ListDisplays{};
    const Message::Value paste = Message::PasteOnMac{"hello"};
    const Message::Value toDevice = Message::PointerShape{3};
    const std::string codecLine = R"(device decodes ["h264", "hevc"], using hevc)";
    const std::string pointerLine = "device draws the pointer; capturing without it";
    const std::vector<Row> rows = {
        {Phase::awaitingApproval, quality, beforeApproval},
        {Phase::awaitingApproval, list, beforeApproval},
        {Phase::awaitingApproval, toDevice, beforeApproval},
        {Phase::startingCapture, quality, "quality mode saver"},
        {Phase::startingCapture, sound, ""},
        {Phase::startingCapture, codecs, codecLine},
        {Phase::startingCapture, pointer, pointerLine},
        {Phase::startingCapture, list, beforeApproval},
        {Phase::startingCapture, paste, beforeApproval},
        {Phase::startingCapture, toDevice, beforeApproval},
        {Phase::sharing, quality, "restarting capture: applying saver quality"},
        {Phase::sharing, sound, ""},
        {Phase::sharing, codecs, "restarting capture: switching to hevc"},
        {Phase::sharing, codecs, R"(device decodes ["h264", "hevc"], using h264)", false},
        {Phase::sharing, pointer, pointerLine},
        {Phase::sharing, list, ""},
        {Phase::sharing, paste, "pasted text from the device"},
        {Phase::sharing, toDevice, "ignored a message that only travels to the device"},
    };
    const Device ada{"Ada"};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "phase " << static_cast<int>(row.phase) << ", message "
                                        << row.message.index() + 1);
        encodesHevcInHardware = row.encodesHevcInHardware;
        renew();
        Channel control;
        if (row.phase == Phase::awaitingApproval) {
            startSharing();
            const Device pairing{"Pairing"};
            connect(Role::media, pairing.name, pairing.key);
            control = connect(Role::control, pairing.name, pairing.key);
        } else if (row.phase == Phase::startingCapture) {
            control = approveWithCaptureHeld(ada).second;
        } else {
            control = pairAndApprove(ada).second;
        }
        newTrace();
        send(control, row.message);
        const auto trace = newTrace();
        if (row.trace.empty()) {
            EXPECT_FALSE(contains(trace, beforeApproval));
        } else {
            EXPECT_TRUE(contains(trace, row.trace)) << testing::PrintToString(trace);
        }
        if (row.phase == Phase::startingCapture) {
            // What was chosen meanwhile is what the capture runs with.
            releaseCapture();
            ASSERT_TRUE(until([&] { return session->isSharing() && probe->isRunning() && !probe->isBusy(); }));
            EXPECT_EQ(probe->codec(), row.message.index() == codecs.index() ? VideoCodec::hevc : VideoCodec::h264);
            EXPECT_EQ(probe->cursorInVideo(), row.message.index() != pointer.index());
        }
    }
}

// Every request with an answer is answered on the control channel, with the answer for its case.
TEST_F(SessionMessagesTest, EachRequestGetsItsReply) {
    using Refusal = Message::ClipboardRefusal;
    struct Row {
        bool remoteControl;
        std::optional<std::string> clipboard;
        Message::Value request;
        Message::Value reply;
    };
    const std::string largest(65'536, 'x');
    const std::string tooLarge(65'537, 'x');
    const std::vector<Row> rows = {
        {true, std::nullopt, Message::PasteOnMac{"from the phone"}, Message::Pasted{}},
        {false, std::nullopt, Message::PasteOnMac{"from the phone"}, Message::ClipboardRefused{Refusal::notAllowed}},
        {false, "secret", Message::CopyFromMac{}, Message::ClipboardRefused{Refusal::notAllowed}},
        {true, std::nullopt, Message::CopyFromMac{}, Message::ClipboardRefused{Refusal::empty}},
        {true, "", Message::CopyFromMac{}, Message::ClipboardRefused{Refusal::empty}},
        {true, largest, Message::CopyFromMac{}, Message::Clipboard{largest}},
        {true, tooLarge, Message::CopyFromMac{}, Message::ClipboardRefused{Refusal::tooLarge}},
        // An updater that finds nothing newer answers that this copy is up to date.
        {true, std::nullopt, Message::UpdateMac{},
         TessaloyCore::UpdateStatus{TessaloyCore::UpdateStatus::State::upToDate, std::nullopt}},
        {false, std::nullopt, Message::UpdateMac{},
         TessaloyCore::UpdateStatus{TessaloyCore::UpdateStatus::State::notAllowed, std::nullopt}},
    };
    const auto [media, control] = pairAndApprove(Device{"Ada"});
    auto& pasteboard = static_cast<Testing::FakePasteboard&>(*environment.pasteboard());
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "request " << row.request.index() + 1 << ", remote control "
                                        << row.remoteControl);
        session->setAllowsRemoteControl(row.remoteControl);
        pasteboard.contents = {};
        pasteboard.contents.string = row.clipboard;
        const std::size_t before = replies(*control).size();
        send(control, row.request);
        const auto sent = replies(*control);
        ASSERT_EQ(sent.size(), before + 1);
        EXPECT_EQ(sent.back().value, row.reply);
        if (const auto* paste = std::get_if<Message::PasteOnMac>(&row.request)) {
            EXPECT_EQ(pasteboard.contents.string, row.remoteControl ? std::optional(paste->text) : std::nullopt);
        }
    }
    EXPECT_TRUE(replies(*media).empty());
}

// The list is cut to 16 displays with sizes the device can show; a switch from the device needs
// remote control, and only a listed display other than the shared one is switched to.
TEST_F(SessionMessagesTest, TheDeviceListsAndSwitchesDisplays) {
    using Testing::FakeDisplays;
    environment.displayList = {FakeDisplays::display(1, 1920, 1080, false, "Left"),
                               FakeDisplays::display(2, 1280, 720, true, std::string(70, 'n')),
                               FakeDisplays::display(3, 0, 70'000, false)};
    for (std::uint32_t id = 4; id <= 17; ++id)
        environment.displayList.push_back(FakeDisplays::display(id, 800, 600, false, "D"));
    const auto [media, control] = pairAndApprove(Device{"Ada"});

    send(control, Message::ListDisplays{});
    const auto listed = std::get<Message::Displays>(replies(*control).back().value);
    ASSERT_EQ(listed.displays.size(), 16u);
    EXPECT_EQ(listed.shared, 1u);
    EXPECT_EQ(listed.displays[0], (Message::DisplayInfo{1, 1920, 1080, false, "Left"}));
    EXPECT_EQ(listed.displays[1], (Message::DisplayInfo{2, 1280, 720, true, std::string(64, 'n')}));
    EXPECT_EQ(listed.displays[2], (Message::DisplayInfo{3, 1, 65'535, false, "Display 3"}));
    EXPECT_EQ(listed.displays.back().id, 16u);

    // Unknown, or already shared: nothing at all.
    const std::size_t before = replies(*control).size();
    send(control, Message::ShareDisplay{99});
    send(control, Message::ShareDisplay{1});
    EXPECT_EQ(replies(*control).size(), before);

    session->setAllowsRemoteControl(false);
    newTrace();
    send(control, Message::ShareDisplay{2});
    EXPECT_EQ(newTrace(), std::vector<std::string>{"display switch refused: remote control is off"});
    EXPECT_EQ(std::get<Message::Displays>(replies(*control).back().value).shared, 1u);

    session->setAllowsRemoteControl(true);
    send(control, Message::ShareDisplay{2});
    ASSERT_TRUE(until([&, control = control] {
        const Message last = replies(*control).back();
        const auto* list = std::get_if<Message::Displays>(&last.value);
        return list && list->shared == 2;
    }));
    EXPECT_TRUE(probe->isRunning());
    EXPECT_EQ(environment.screenCaptures().back()->configurations().back().displayID, 2u);

    // Switches that come while one restarts merge into one more: the latest display wins.
    ASSERT_TRUE(until([&] { return !probe->isBusy(); }));
    newTrace();
    holdCapture();
    for (std::uint32_t id : {3u, 1u, 3u, 1u, 3u}) send(control, Message::ShareDisplay{id});
    releaseCapture();
    ASSERT_TRUE(until([&] { return !probe->isBusy() && probe->selectedDisplayID() == 3; }));
    const auto trace = newTrace();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "restarting capture: switching the shared display"), 2);
    EXPECT_EQ(environment.screenCaptures().back()->configurations().back().displayID, 3u);
}

// Codec and quality restart capture only when they change what runs; a pointer the device draws
// leaves the picture only once remote control is on.
TEST_F(SessionMessagesTest, CodecQualityAndPointerRestartOnlyOnChange) {
    session->setAllowsRemoteControl(false);
    const auto [media, control] = pairAndApprove(Device{"Ada"});
    const auto restarts = [&](const std::vector<std::string>& trace) {
        return std::count_if(trace.begin(), trace.end(),
                             [](const std::string& line) { return line.starts_with("restarting capture: "); });
    };
    newTrace();
    send(control, Message::VideoCodecs{{}});
    EXPECT_EQ(newTrace(), std::vector<std::string>{}) << "h264 alone is what the device had";

    send(control, Message::VideoCodecs{{VideoCodec::hevc, VideoCodec::h264}});
    ASSERT_TRUE(until([&] { return probe->codec() == VideoCodec::hevc && !probe->isBusy(); }));
    EXPECT_EQ(restarts(newTrace()), 1);
    send(control, Message::VideoCodecs{{VideoCodec::hevc}});
    EXPECT_EQ(newTrace(), std::vector<std::string>{});

    send(control, Message::Quality{QualityMode::saver});
    ASSERT_TRUE(until([&] { return !probe->isBusy(); }));
    EXPECT_EQ(restarts(newTrace()), 1);
    EXPECT_EQ(session->qualityMode(), QualityMode::saver);
    send(control, Message::Quality{QualityMode::saver});
    EXPECT_EQ(newTrace(), std::vector<std::string>{});

    send(control, Message::DrawsPointer{});
    EXPECT_EQ(newTrace(),
              std::vector<std::string>{"device draws the pointer; keeping it in the picture until control is on"});
    ASSERT_TRUE(until([&] { return !probe->isBusy(); }));
    EXPECT_TRUE(probe->cursorInVideo());
    session->setAllowsRemoteControl(true);
    ASSERT_TRUE(until([&] { return !probe->cursorInVideo(); }));
}

// Each HEVC encoder leaves memory in libx265: a device that flips codecs gets HEVC once at once and
// once more a second later, with its latest choice. Its lists are traced once, with a count.
TEST_F(SessionMessagesTest, ADeviceThatKeepsSwitchingCodecsGetsHevcInTurn) {
    const auto control = pairAndApprove(Device{"Ada"}).second;
    newTrace();
    for (int i = 0; i < 31; ++i) {
        send(control, Message::VideoCodecs{i % 2 ? std::vector<VideoCodec>{} : std::vector{VideoCodec::hevc}});
        ASSERT_TRUE(until([&] { return !probe->isBusy(); }));
    }
    EXPECT_EQ(probe->codec(), VideoCodec::h264);
    environment.actor.advance(std::chrono::seconds(1));
    ASSERT_TRUE(until([&] { return probe->codec() == VideoCodec::hevc && !probe->isBusy(); }));
    const auto trace = newTrace();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "restarting capture: switching to hevc"), 2);
    EXPECT_EQ(trace.back(), R"(device decodes ["h264", "hevc"], using hevc (repeated 30 times in the last 10 s))");
}

// The session ends while the switch to the local pointer and a restart wait for capture: the switch
// has no effect when its answer comes, and the restart never runs.
TEST_F(SessionMessagesTest, ALocalPointerSwitchThatOutlivesItsSessionDoesNothing) {
    const auto [media, control] = pairAndApprove(Device{"Ada"});
    holdCapture();
    send(control, Message::Quality{QualityMode::saver}); // its restart keeps capture busy
    send(control, Message::Quality{QualityMode::balanced});
    using TessaloyCore::InputEvent;
    receive(control, Role::control, InputEvent{InputEvent::EnableLocalCursor{}}.packet());
    session->stopSharing(StopReason::userStopped());
    newTrace();
    releaseCapture();
    ASSERT_TRUE(until([&] { return !probe->isBusy() && !probe->isRunning() && probe->cursorInVideo(); }));
    for (const auto& line : newTrace())
        EXPECT_FALSE(line.starts_with("local pointer") || line.starts_with("restart")) << line;
    for (const auto& packet : control->sent(FakePacketChannel::Route::direct)) {
        EXPECT_NE(packet.kind(), TessaloyCore::WirePacket::Kind::cursorUpdate);
    }
}

} // namespace
