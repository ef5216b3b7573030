#include "app/shell/SessionMessages.h"

#include "app/capture/CaptureProbe.h"
#include "app/runtime/Awaiters.h"
#include "app/runtime/TaskHandle.h"
#include "app/services/LocalInterfaces.h"
#include "app/services/PointerShapeWatcher.h"
#include "app/shell/SessionCapture.h"
#include "app/shell/SessionEffects.h"
#include "app/shell/SessionLink.h"
#include "app/shell/SessionModel.h"
#include "app/shell/StreamPreferences.h"
#include "app/trace/TraceLog.h"
#include "app/transfers/HostTransfers.h"
#include "app/updater/MacUpdater.h"
#include "core/AudioQuality.h"
#include "core/UnicodeText.h"
#include "net/relay/RelayEndpoint.h"
#include "platform/Environment.h"
#include "platform/MachineInfo.h"
#include "platform/Pasteboard.h"
#include "platform/UserDefaults.h"

#include <algorithm>

namespace Plovander {
namespace {

using TessaloyCore::SessionMessage;

constexpr std::size_t largestClipboardText = 65'536;

// Host information travels in texts of at most 64 characters.
std::string shortText(std::string_view text) {
    return std::string(TessaloyCore::leadingScalars(text, TessaloyCore::HostInfo::maximumTextCharacters));
}

// A reply that cannot be encoded, or whose channel is gone, is dropped.
void sendOn(TessaloyNet::PacketChannel* channel, const SessionMessage& message) {
    if (!channel) return;
    try {
        channel->sendDirect(message.packet());
    } catch (const std::exception&) {
    }
}

bool isPreference(const SessionMessage& message) {
    return message.is<SessionMessage::Quality>() || message.is<SessionMessage::Sound>() ||
           message.is<SessionMessage::VideoCodecs>() || message.is<SessionMessage::DrawsPointer>();
}

} // namespace

std::optional<TessaloyCore::HostInfo::AvailableRelease> SessionMessages::availableRelease() const {
    const auto& release = own_.updater.available();
    if (!release) return std::nullopt;
    return TessaloyCore::HostInfo::AvailableRelease{shortText(release->version), release->build};
}

SessionMessages::SessionMessages(const SessionContext& context, Collaborators collaborators)
    : c_(context), own_(std::move(collaborators)) {}

SessionMessages::~SessionMessages() { hevcSwitch_.cancel(); }

void SessionMessages::handle(const SessionMessage& message, const Channel& channel) {
    const bool streaming = c_.link.isStreaming();
    const bool sharing = c_.model.isSharing;
    // The device's preferences reach the capture that starts right after approval.
    const bool earlyAllowed = streaming || c_.link.startupTask.isRunning() || sharing;
    if (!(isPreference(message) && earlyAllowed) && !(sharing && streaming)) {
        TraceLog::message("ignored a session message before the session was approved");
        return;
    }
    std::visit(
        [this, &channel](const auto& value) {
            using Case = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Case, SessionMessage::PasteOnMac>) {
                pasteOnMac(value.text, channel);
            } else if constexpr (std::is_same_v<Case, SessionMessage::CopyFromMac>) {
                copyFromMac(channel);
            } else if constexpr (std::is_same_v<Case, SessionMessage::ListDisplays>) {
                sendOn(channel.get(), displayList());
            } else if constexpr (std::is_same_v<Case, SessionMessage::ShareDisplay>) {
                // Switches merge like the device's other choices: the latest display wins.
                if (selectsDisplay(value.id, true)) {
                    own_.sessionCapture.restartInBackground("switching the shared display",
                                                            [this] { c_.link.sendOnControl(displayList()); });
                }
            } else if constexpr (std::is_same_v<Case, SessionMessage::Quality>) {
                applyQuality(value.mode);
            } else if constexpr (std::is_same_v<Case, SessionMessage::Sound>) {
                applySound(value.on);
            } else if constexpr (std::is_same_v<Case, SessionMessage::VideoCodecs>) {
                applyVideoCodecs(value.list);
            } else if constexpr (std::is_same_v<Case, SessionMessage::DrawsPointer>) {
                setDeviceDrawsPointer();
            } else if constexpr (std::is_same_v<Case, SessionMessage::Privacy>) {
                c_.effects.applyPrivacy(value.state);
            } else if constexpr (std::is_same_v<Case, SessionMessage::RequestKeyframe>) {
                requestKeyframe();
            } else if constexpr (std::is_same_v<Case, SessionMessage::UpdateMac>) {
                requestUpdate(channel);
            } else {
                TraceLog::message("ignored a message that only travels to the device");
            }
        },
        message.value);
}

void SessionMessages::pasteOnMac(const std::string& text, const Channel& channel) {
    using Refusal = SessionMessage::ClipboardRefusal;
    if (!c_.model.allowsRemoteControl) {
        sendOn(channel.get(), SessionMessage{SessionMessage::ClipboardRefused{Refusal::notAllowed}});
        return;
    }
    const auto pasteboard = c_.environment.pasteboard();
    pasteboard->clearContents();
    pasteboard->setString(text);
    c_.transfers.paste();
    TraceLog::message("pasted text from the device");
    sendOn(channel.get(), SessionMessage{SessionMessage::Pasted{}});
}

void SessionMessages::copyFromMac(const Channel& channel) {
    using Refusal = SessionMessage::ClipboardRefusal;
    const auto reply = [&channel](const SessionMessage& message) { sendOn(channel.get(), message); };
    if (!c_.model.allowsRemoteControl) {
        reply(SessionMessage{SessionMessage::ClipboardRefused{Refusal::notAllowed}});
        return;
    }
    const HostTransfers::PasteboardResult result = c_.transfers.sendPasteboard();
    if (const auto* refused = std::get_if<HostTransfers::PasteboardResult::Refused>(&result.value)) {
        reply(SessionMessage{SessionMessage::ClipboardRefused{refused->reason}});
        return;
    }
    if (std::holds_alternative<HostTransfers::PasteboardResult::Queued>(result.value)) return;
    const auto text = c_.environment.pasteboard()->string();
    if (!text || text->empty()) {
        reply(SessionMessage{SessionMessage::ClipboardRefused{Refusal::empty}});
    } else if (text->size() > largestClipboardText) {
        reply(SessionMessage{SessionMessage::ClipboardRefused{Refusal::tooLarge}});
    } else {
        TraceLog::message("sent the clipboard to the device");
        reply(SessionMessage{SessionMessage::Clipboard{*text}});
    }
}

void SessionMessages::requestUpdate(const Channel& channel) {
    using TessaloyCore::UpdateStatus;
    if (!c_.model.allowsRemoteControl) {
        sendOn(channel.get(), SessionMessage{UpdateStatus{UpdateStatus::State::notAllowed, std::nullopt}});
        return;
    }
    TraceLog::message("update requested by the device");
    const std::uint64_t generation = c_.link.state.sessionGeneration();
    c_.link.remoteUpdate.cancel();
    // Bound to the session that asked: a later session, or remote control switched off, stops it.
    c_.link.remoteUpdate = TaskHandle::start(
        [this, lifetime = c_.lifetime, generation, channel](CancellationToken token) -> QCoro::Task<> {
            if (lifetime.isCancelled()) co_return;
            const auto isAllowed = [this, lifetime, generation] {
                return !lifetime.isCancelled() && c_.model.allowsRemoteControl && c_.model.isSharing &&
                       c_.link.state.sessionGeneration() == generation && c_.link.isStreaming();
            };
            const auto report = [channel](UpdateStatus::State state, const std::optional<std::string>& detail) {
                if (!channel) return;
                try {
                    channel->sendDirect(SessionMessage{UpdateStatus{state, detail}}.packet());
                } catch (const std::exception&) {
                    // A status that cannot be encoded is dropped.
                }
            };
            co_await own_.updater.installUpdate(isAllowed, report, token);
        });
}

void SessionMessages::requestKeyframe() {
    const auto output = c_.capture.encodingOutput();
    if (!output) return;
    output->captureQueue().async([weak = std::weak_ptr<CaptureEncodingOutput>(output)] {
        if (const auto live = weak.lock()) live->requestKeyframe();
    });
}

SessionMessage SessionMessages::displayList() const {
    SessionMessage::Displays list;
    const auto& displays = c_.capture.displays();
    const std::size_t count = std::min(displays.size(), SessionMessage::maximumDisplays);
    for (std::size_t i = 0; i < count; ++i) {
        const auto& display = displays[i];
        // A name over the codec's limit is cut rather than losing the whole list.
        const std::string name = display.name.empty()
                                     ? "Display " + std::to_string(display.displayID)
                                     : std::string(TessaloyCore::leadingScalars(
                                           display.name, SessionMessage::DisplayInfo::maximumNameCharacters));
        list.displays.push_back({.id = display.displayID,
                                 .width = std::clamp<std::int64_t>(display.width, 1, 65'535),
                                 .height = std::clamp<std::int64_t>(display.height, 1, 65'535),
                                 .isMain = display.isMain,
                                 .name = name});
    }
    list.shared = c_.capture.selectedDisplayID();
    return SessionMessage{std::move(list)};
}

bool SessionMessages::selectsDisplay(std::uint32_t displayID, bool fromDevice) {
    if (!c_.model.isSharing || !c_.link.sender) return false;
    const auto& displays = c_.capture.displays();
    const bool listed = std::any_of(displays.begin(), displays.end(),
                                    [&](const auto& display) { return display.displayID == displayID; });
    if (displayID == c_.capture.selectedDisplayID() || !listed) return false;
    if (fromDevice && !c_.model.allowsRemoteControl) {
        TraceLog::message("display switch refused: remote control is off");
        c_.link.sendOnControl(displayList());
        return false;
    }
    c_.capture.setSelectedDisplayID(displayID);
    return true;
}

QCoro::Task<> SessionMessages::switchSharedDisplay(std::uint32_t displayID, bool fromDevice) {
    if (!selectsDisplay(displayID, fromDevice)) co_return;
    const CancellationToken lifetime = c_.lifetime;
    co_await own_.sessionCapture.restartCapture("switching the shared display");
    if (!lifetime.isCancelled()) c_.link.sendOnControl(displayList());
}

void SessionMessages::applyQuality(TessaloyCore::QualityMode mode) {
    if (mode == c_.model.qualityMode.get()) return;
    c_.model.qualityMode.set(mode);
    const auto audio = TessaloyCore::AudioQuality::of(mode);
    c_.capture.audio().setQuality(c_.preferences.wantsSound, audio.sampleRate, audio.channels, audio.bitrate);
    c_.preferences.restartLadder(mode);
    TraceLog::message([&] { return std::string("quality mode ") + TessaloyCore::nameOf(mode); });
    if (c_.model.isSharing) {
        own_.sessionCapture.restartInBackground(std::string("applying ") + TessaloyCore::nameOf(mode) + " quality");
    }
}

void SessionMessages::applySound(bool on) {
    c_.preferences.wantsSound = on;
    const auto audio = TessaloyCore::AudioQuality::of(c_.model.qualityMode);
    c_.capture.audio().setQuality(on, audio.sampleRate, audio.channels, audio.bitrate);
}

void SessionMessages::applyVideoCodecs(const std::vector<TessaloyCore::VideoCodec>& list) {
    if (!c_.preferences.setDeviceCodecs({list.begin(), list.end()})) return;
    const TessaloyCore::VideoCodec preferred = c_.preferences.preferredCodec();
    // A device can send lists as fast as it likes: a count keeps them from flooding the trace.
    TraceLog::coalesced("device decodes", [&] {
        std::vector<std::string> names;
        for (const auto codec : c_.preferences.deviceCodecs()) names.emplace_back(TessaloyCore::nameOf(codec));
        std::sort(names.begin(), names.end());
        std::string text = "device decodes [";
        for (std::size_t i = 0; i < names.size(); ++i) text += (i ? ", \"" : "\"") + names[i] + "\"";
        return text + "], using " + TessaloyCore::nameOf(preferred);
    });
    if (!c_.model.isSharing || c_.capture.codec() == preferred) return;
    if (preferred == TessaloyCore::VideoCodec::hevc) return switchToHevc();
    own_.sessionCapture.restartInBackground(std::string("switching to ") + TessaloyCore::nameOf(preferred));
}

// Every HEVC encoder opened leaves about 100 KB inside libx265. A device that keeps switching gets
// its switches to HEVC one at a time, each at least a gap after the one before, the gap doubling
// from a second with each switch of its session: a handful a session at most, and the device's
// latest choice wins. Leaving HEVC costs nothing and is not held back.
void SessionMessages::switchToHevc() {
    if (hevcSwitch_.isRunning()) return;
    const std::uint64_t generation = c_.link.state.sessionGeneration();
    if (hevcSwitches_.sessionGeneration != generation) hevcSwitches_ = {.sessionGeneration = generation};
    hevcSwitch_ =
        TaskHandle::start([this, lifetime = c_.lifetime, generation](CancellationToken token) -> QCoro::Task<> {
            TessaloyBase::MainActor& actor = c_.environment.mainActor();
            const auto wanted = [&] {
                return !lifetime.isCancelled() && c_.link.state.sessionGeneration() == generation &&
                       c_.model.isSharing && c_.capture.codec() != c_.preferences.preferredCodec();
            };
            while (wanted()) {
                const TessaloyBase::MainActor::Duration wait = hevcSwitches_.next - actor.now();
                if (wait.count() > 0 && !co_await sleepFor(actor, wait, token)) co_return;
                if (!wanted()) co_return;
                hevcSwitches_.next =
                    actor.now() + std::chrono::duration_cast<std::chrono::system_clock::duration>(hevcSwitches_.gap);
                hevcSwitches_.gap *= 2;
                co_await own_.sessionCapture.restartCapture(std::string("switching to ") +
                                                            TessaloyCore::nameOf(c_.preferences.preferredCodec()));
            }
        });
}

void SessionMessages::setDeviceDrawsPointer() {
    c_.preferences.deviceWantsOwnPointer = true;
    if (!c_.model.allowsRemoteControl) {
        TraceLog::message("device draws the pointer; keeping it in the picture until control is on");
        return;
    }
    TraceLog::message("device draws the pointer; capturing without it");
    leavePointerOutOfPicture();
}

void SessionMessages::remoteControlAllowed() {
    // Also while capture starts: the probe remembers the choice for the capture it starts.
    if (!c_.preferences.deviceWantsOwnPointer) return;
    TraceLog::message("device draws the pointer; capturing without it");
    leavePointerOutOfPicture();
}

void SessionMessages::leavePointerOutOfPicture() {
    TaskHandle::detach([this, lifetime = c_.lifetime](CancellationToken) -> QCoro::Task<> {
        if (!lifetime.isCancelled()) co_await c_.capture.setCursorInVideo(false);
    });
}

void SessionMessages::startLocalPointerMode() {
    // A device that asks again while the switch is under way gets the one switch.
    if (!c_.link.controlChannel || c_.link.cursorModeStarting) return;
    c_.link.cursorModeStarting = true;
    const std::weak_ptr<TessaloyNet::PacketChannel> weakChannel = c_.link.controlChannel;
    TaskHandle::detach([this, lifetime = c_.lifetime, weakChannel,
                        generation = c_.link.state.sessionGeneration()](CancellationToken) -> QCoro::Task<> {
        const auto stillThisSession = [&] {
            const auto channel = weakChannel.lock();
            return !lifetime.isCancelled() && channel && c_.link.state.sessionGeneration() == generation &&
                   c_.link.isStreaming() && c_.link.controlChannel == channel;
        };
        if (!stillThisSession()) co_return;
        const bool accepted = co_await c_.capture.setCursorInVideo(false);
        if (!stillThisSession()) co_return;
        c_.link.cursorModeStarting = false;
        TraceLog::message(accepted ? "local pointer on: the Mac pointer is out of the picture"
                                   : "local pointer refused");
        if (!accepted) co_return;
        c_.link.localCursorEnabled = true;
        own_.pointerShapes.setSend(
            [weakChannel](const SessionMessage& message) { sendOn(weakChannel.lock().get(), message); });
        own_.pointerShapes.start();
        own_.sessionCapture.sendLocalPointer(weakChannel.lock());
    });
    own_.pointerShapes.poll();
}

void SessionMessages::sendReachabilityInfo() {
    if (!c_.model.isSharing || !c_.link.isStreaming() || !c_.link.controlChannel) return;
    const Platform::Interfaces& interfaces = c_.environment.interfaces();
    // An empty list goes too; when this first message cannot go, nothing else does.
    const std::vector<std::string> remote = remoteAddresses(interfaces);
    if (!c_.link.sendOnControl(SessionMessage{SessionMessage::RemoteAddresses{remote}})) return;
    TraceLog::message("sent " + std::to_string(remote.size()) + " remote address(es)");
    Platform::UserDefaults& defaults = c_.environment.userDefaults();
    const auto relay = TessaloyNet::RelayEndpoint::configured(defaults.boolean(TessaloyNet::RelayEndpoint::enabledKey),
                                                              defaults.text(TessaloyNet::RelayEndpoint::overrideKey));
    if (relay && c_.link.sendOnControl(SessionMessage{SessionMessage::Relay{relay->text()}})) {
        TraceLog::message("sent the Plovander Connect relay");
    }
    std::vector<SessionMessage::WakeTarget> wakeTargets = localEthernetInterfaces(interfaces);
    if (wakeTargets.size() > SessionMessage::maximumWakeTargets) wakeTargets.resize(SessionMessage::maximumWakeTargets);
    if (c_.link.sendOnControl(SessionMessage{SessionMessage::WakeInfo{wakeTargets}})) {
        TraceLog::message("sent wake info for " + std::to_string(wakeTargets.size()) + " interface(s)");
    }
    sendHostInfo();
}

void SessionMessages::sendHostInfo() {
    const Platform::MachineInfo& machine = c_.environment.machineInfo();
    // An update the device starts is remote control too.
    const bool canInstall = own_.updater.canReplaceItself() && c_.model.allowsRemoteControl;
    c_.link.sendOnControl(SessionMessage{TessaloyCore::HostInfo{.version = shortText(own_.updater.currentVersion()),
                                                                .build = std::to_string(own_.updater.currentBuild()),
                                                                .system = shortText(machine.systemDescription()),
                                                                .model = shortText(machine.modelName()),
                                                                .available = availableRelease(),
                                                                .canInstall = canInstall}});
    if (const auto& status = own_.updater.status()) c_.link.sendOnControl(SessionMessage{*status});
}

} // namespace Plovander
