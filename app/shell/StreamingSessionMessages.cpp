// The device's session messages: what is accepted in which phase, what it does and what goes back.
#include "app/capture/CaptureProbe.h"
#include "app/shell/StreamingSession.h"
#include "app/trace/TraceLog.h"
#include "core/AppVersion.h"
#include "core/AudioQuality.h"
#include "core/CursorUpdate.h"
#include "core/QualityRung.h"
#include "core/UnicodeText.h"
#include "platform/Pasteboard.h"

#include <sys/utsname.h>

#include <algorithm>

namespace Plovander {
namespace {

using Phase = TessaloyNet::HostSessionState::Phase;
using TessaloyCore::SessionMessage;

constexpr std::size_t largestClipboardText = 65'536;

std::string systemDescription() {
    utsname name{};
    if (::uname(&name) != 0) return "Linux";
    return std::string(name.sysname) + " " + name.release;
}

// Host information travels in texts of at most 64 characters.
std::string shortText(std::string_view text) {
    return std::string(TessaloyCore::leadingScalars(text, TessaloyCore::HostInfo::maximumTextCharacters));
}

} // namespace

void StreamingSession::handleSessionMessage(const SessionMessage& message) {
    const bool streaming = state_.phase().is<Phase::Streaming>();
    const bool earlyAllowed = streaming || startupTask_.isRunning() || isSharing_;
    const bool isPreference = message.is<SessionMessage::Quality>() || message.is<SessionMessage::Sound>() ||
                              message.is<SessionMessage::VideoCodecs>() || message.is<SessionMessage::DrawsPointer>();
    if (!(isPreference && earlyAllowed) && !(isSharing_ && streaming)) {
        TraceLog::message("ignored a session message before the session was approved");
        return;
    }
    std::visit(
        [this](const auto& value) {
            using Case = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Case, SessionMessage::PasteOnMac>) {
                pasteOnMac(value.text);
            } else if constexpr (std::is_same_v<Case, SessionMessage::CopyFromMac>) {
                copyFromMac();
            } else if constexpr (std::is_same_v<Case, SessionMessage::ListDisplays>) {
                sendOnControl(displayList());
            } else if constexpr (std::is_same_v<Case, SessionMessage::ShareDisplay>) {
                TaskHandle::start(
                    [this, alive = std::weak_ptr<bool>(alive_), id = value.id](CancellationToken) -> QCoro::Task<> {
                        if (alive.lock()) co_await switchSharedDisplay(id, true);
                    });
            } else if constexpr (std::is_same_v<Case, SessionMessage::Quality>) {
                applyQuality(value.mode);
            } else if constexpr (std::is_same_v<Case, SessionMessage::Sound>) {
                wantsSound_ = value.on;
                const auto audio = TessaloyCore::AudioQuality::of(qualityMode_);
                capture_.audio().setQuality(value.on, audio.sampleRate, audio.channels, audio.bitrate);
            } else if constexpr (std::is_same_v<Case, SessionMessage::VideoCodecs>) {
                applyVideoCodecs(value.list);
            } else if constexpr (std::is_same_v<Case, SessionMessage::DrawsPointer>) {
                setDeviceDrawsPointer();
            } else if constexpr (std::is_same_v<Case, SessionMessage::Privacy>) {
                applyPrivacy(value.state);
            } else if constexpr (std::is_same_v<Case, SessionMessage::RequestKeyframe>) {
                requestKeyframe();
            } else if constexpr (std::is_same_v<Case, SessionMessage::UpdateMac>) {
                // Installing updates is not offered on this computer: say so rather than stay silent.
                sendOnControl(SessionMessage{
                    TessaloyCore::UpdateStatus{TessaloyCore::UpdateStatus::State::notAllowed, std::nullopt}});
            } else {
                TraceLog::message("ignored a message that only travels to the device");
            }
        },
        message.value);
}

void StreamingSession::pasteOnMac(const std::string& text) {
    using Refusal = SessionMessage::ClipboardRefusal;
    if (!allowsRemoteControl_) {
        sendOnControl(SessionMessage{SessionMessage::ClipboardRefused{Refusal::notAllowed}});
        return;
    }
    const auto pasteboard = environment_.pasteboard();
    pasteboard->clearContents();
    pasteboard->setString(text);
    transfers_->paste();
    TraceLog::message("pasted text from the device");
    sendOnControl(SessionMessage{SessionMessage::Pasted{}});
}

void StreamingSession::copyFromMac() {
    using Refusal = SessionMessage::ClipboardRefusal;
    if (!allowsRemoteControl_) {
        sendOnControl(SessionMessage{SessionMessage::ClipboardRefused{Refusal::notAllowed}});
        return;
    }
    const HostTransfers::PasteboardResult result = transfers_->sendPasteboard();
    if (const auto* refused = std::get_if<HostTransfers::PasteboardResult::Refused>(&result.value)) {
        sendOnControl(SessionMessage{SessionMessage::ClipboardRefused{refused->reason}});
        return;
    }
    if (std::holds_alternative<HostTransfers::PasteboardResult::Queued>(result.value)) return;
    const auto text = environment_.pasteboard()->string();
    if (!text || text->empty()) {
        sendOnControl(SessionMessage{SessionMessage::ClipboardRefused{Refusal::empty}});
    } else if (text->size() > largestClipboardText) {
        sendOnControl(SessionMessage{SessionMessage::ClipboardRefused{Refusal::tooLarge}});
    } else {
        TraceLog::message("sent the clipboard to the device");
        sendOnControl(SessionMessage{SessionMessage::Clipboard{*text}});
    }
}

void StreamingSession::requestKeyframe() {
    const auto output = capture_.encodingOutput();
    if (!output) return;
    output->captureQueue().async([weak = std::weak_ptr<CaptureEncodingOutput>(output)] {
        if (const auto live = weak.lock()) live->requestKeyframe();
    });
}

SessionMessage StreamingSession::displayList() const {
    SessionMessage::Displays list;
    const auto& displays = capture_.displays();
    const std::size_t count = std::min(displays.size(), SessionMessage::maximumDisplays);
    for (std::size_t i = 0; i < count; ++i) {
        const auto& display = displays[i];
        list.displays.push_back({.id = display.displayID,
                                 .width = std::clamp<std::int64_t>(display.width, 1, 65'535),
                                 .height = std::clamp<std::int64_t>(display.height, 1, 65'535),
                                 .isMain = display.isMain,
                                 .name = std::string(TessaloyCore::leadingScalars(
                                     display.name, SessionMessage::DisplayInfo::maximumNameCharacters))});
    }
    list.shared = capture_.selectedDisplayID();
    return SessionMessage{std::move(list)};
}

QCoro::Task<> StreamingSession::switchSharedDisplay(std::uint32_t displayID, bool fromDevice) {
    if (!isSharing_ || !sender_) co_return;
    const auto& displays = capture_.displays();
    const bool listed = std::any_of(displays.begin(), displays.end(),
                                    [&](const auto& display) { return display.displayID == displayID; });
    if (displayID == capture_.selectedDisplayID() || !listed) co_return;
    if (fromDevice && !allowsRemoteControl_) {
        TraceLog::message("display switch refused: remote control is off");
        sendOnControl(displayList());
        co_return;
    }
    const std::weak_ptr<bool> alive = alive_;
    capture_.setSelectedDisplayID(displayID);
    co_await restartCapture("switching the shared display");
    if (alive.lock()) sendOnControl(displayList());
}

void StreamingSession::applyQuality(TessaloyCore::QualityMode mode) {
    if (mode == qualityMode_) return;
    setQualityMode(mode);
    const auto audio = TessaloyCore::AudioQuality::of(mode);
    capture_.audio().setQuality(wantsSound_, audio.sampleRate, audio.channels, audio.bitrate);
    ladder_ = TessaloyCore::QualityLadder(TessaloyCore::QualityRung::ladder(mode).size());
    TraceLog::message([&] { return std::string("quality mode ") + TessaloyCore::nameOf(mode); });
    if (!isSharing_) return;
    TaskHandle::start([this, alive = std::weak_ptr<bool>(alive_), mode](CancellationToken) -> QCoro::Task<> {
        if (alive.lock()) co_await restartCapture(std::string("applying ") + TessaloyCore::nameOf(mode) + " quality");
    });
}

void StreamingSession::applyVideoCodecs(const std::vector<TessaloyCore::VideoCodec>& list) {
    std::set<TessaloyCore::VideoCodec> codecs(list.begin(), list.end());
    codecs.insert(TessaloyCore::VideoCodec::h264);
    if (codecs == deviceCodecs_) return;
    deviceCodecs_ = std::move(codecs);
    TraceLog::message([&] {
        std::vector<std::string> names;
        for (const auto codec : deviceCodecs_) names.emplace_back(TessaloyCore::nameOf(codec));
        std::sort(names.begin(), names.end());
        std::string text = "device decodes [";
        for (std::size_t i = 0; i < names.size(); ++i) text += (i ? ", \"" : "\"") + names[i] + "\"";
        return text + "], using " + TessaloyCore::nameOf(preferredCodec());
    });
    if (!isSharing_ || capture_.codec() == preferredCodec()) return;
    TaskHandle::start([this, alive = std::weak_ptr<bool>(alive_)](CancellationToken) -> QCoro::Task<> {
        if (alive.lock())
            co_await restartCapture(std::string("switching to ") + TessaloyCore::nameOf(preferredCodec()));
    });
}

void StreamingSession::setDeviceDrawsPointer() {
    deviceWantsOwnPointer_ = true;
    if (!allowsRemoteControl_) {
        TraceLog::message("device draws the pointer; keeping it in the picture until control is on");
        return;
    }
    TraceLog::message("device draws the pointer; capturing without it");
    TaskHandle::start([this, alive = std::weak_ptr<bool>(alive_)](CancellationToken) -> QCoro::Task<> {
        if (alive.lock()) co_await capture_.setCursorInVideo(false);
    });
}

std::optional<TessaloyCore::WirePacket> StreamingSession::cursorUpdate(
    std::uint32_t sequence, Platform::Events::Point point, const Platform::ShareableDisplay::Bounds& bounds) {
    if (bounds.width <= 0 || bounds.height <= 0) return std::nullopt;
    const double x = std::clamp((point.x - bounds.x) / bounds.width, 0.0, 1.0);
    const double y = std::clamp((point.y - bounds.y) / bounds.height, 0.0, 1.0);
    const bool visible = point.x >= bounds.x && point.x < bounds.x + bounds.width && point.y >= bounds.y &&
                         point.y < bounds.y + bounds.height;
    try {
        return TessaloyCore::CursorUpdate(sequence, x, y, bounds.width, bounds.height, visible).packet();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<Platform::ShareableDisplay::Bounds> StreamingSession::sharedDisplayBounds() const {
    for (const auto& display : capture_.displays()) {
        if (display.displayID == capture_.selectedDisplayID()) return display.bounds;
    }
    return std::nullopt;
}

void StreamingSession::startLocalPointerMode() {
    if (!controlChannel_) return;
    cursorModeStarting_ = true;
    const std::weak_ptr<TessaloyNet::PacketChannel> weakChannel = controlChannel_;
    TaskHandle::start([this, alive = std::weak_ptr<bool>(alive_), weakChannel,
                       generation = state_.sessionGeneration()](CancellationToken) -> QCoro::Task<> {
        const auto stillThisSession = [&] {
            const auto channel = weakChannel.lock();
            return alive.lock() && channel && state_.sessionGeneration() == generation &&
                   state_.phase().is<Phase::Streaming>() && controlChannel_ == channel;
        };
        if (!stillThisSession()) co_return;
        const bool accepted = co_await capture_.setCursorInVideo(false);
        if (!stillThisSession()) co_return;
        cursorModeStarting_ = false;
        TraceLog::message(accepted ? "local pointer on: the Mac pointer is out of the picture"
                                   : "local pointer refused");
        if (!accepted) co_return;
        localCursorEnabled_ = true;
        pointerShapes_->setSend([weakChannel](const SessionMessage& message) {
            const auto channel = weakChannel.lock();
            if (!channel) return;
            try {
                channel->sendDirect(message.packet());
            } catch (const std::exception&) {
            }
        });
        pointerShapes_->start();
        sendLocalPointer(weakChannel.lock());
    });
    pointerShapes_->poll();
}

void StreamingSession::sendLocalPointer(const std::shared_ptr<TessaloyNet::PacketChannel>& channel) {
    const auto bounds = sharedDisplayBounds();
    if (!channel || !bounds) return;
    input_->readPointer([weak = std::weak_ptr<TessaloyNet::PacketChannel>(channel),
                         bounds = *bounds](std::optional<Platform::Events::Point> point) {
        const auto live = weak.lock();
        if (!point || !live) return;
        if (auto packet = cursorUpdate(0, *point, bounds)) live->sendDirect(std::move(*packet));
    });
}

void StreamingSession::sendReachabilityInfo() {
    if (!isSharing_ || !state_.phase().is<Phase::Streaming>() || !controlChannel_) return;
    // No VPN relay runs yet, so there are no remote addresses to offer; the empty list still goes.
    if (!sendOnControl(SessionMessage{SessionMessage::RemoteAddresses{}})) return;
    TraceLog::message("sent 0 remote address(es)");
    sendHostInfo();
}

void StreamingSession::sendHostInfo() {
    const std::string kind = TessaloyCore::nameOf(environment_.machineKind());
    sendOnControl(SessionMessage{TessaloyCore::HostInfo{.version = shortText(TessaloyCore::AppVersion::marketing()),
                                                        .build = shortText(TessaloyCore::AppVersion::build()),
                                                        .system = shortText(systemDescription()),
                                                        .model = kind,
                                                        .available = std::nullopt,
                                                        .canInstall = false}});
}

bool StreamingSession::sendOnControl(const SessionMessage& message) {
    if (!controlChannel_) return false;
    try {
        controlChannel_->sendDirect(message.packet());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace Plovander
