#pragma once

#include "app/runtime/TaskHandle.h"
#include "app/shell/SessionContext.h"
#include "base/MainActor.h"
#include "core/HostInfo.h"
#include "core/QualityMode.h"
#include "core/SessionMessage.h"
#include "core/VideoCodec.h"

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace TessaloyNet {
class PacketChannel;
}

namespace Plovander {

class MacUpdater;
class PointerShapeWatcher;
class SessionCapture;

// The device's session messages: which are accepted in which phase, what each does on this Mac,
// and what goes back on the control channel. Also what the Mac tells the device of itself.
// Main actor only.
class SessionMessages {
public:
    struct Collaborators {
        SessionCapture& sessionCapture;
        PointerShapeWatcher& pointerShapes;
        MacUpdater& updater;
    };

    SessionMessages(const SessionContext& context, Collaborators collaborators);
    ~SessionMessages();

    // Replies go back on `channel`, the control channel the message came on.
    void handle(const TessaloyCore::SessionMessage& message,
                const std::shared_ptr<TessaloyNet::PacketChannel>& channel);
    // The device draws the pointer: it gets positions instead of a picture of it.
    void startLocalPointerMode();
    // Remote control was switched on: a pointer the device of this session draws itself leaves the
    // picture now.
    void remoteControlAllowed();
    void sendReachabilityInfo();
    void sendHostInfo();
    // Restarts capture on another listed display while sharing; a device's request needs remote
    // control. The device then gets the display list again.
    QCoro::Task<> switchSharedDisplay(std::uint32_t displayID, bool fromDevice);

private:
    using Channel = std::shared_ptr<TessaloyNet::PacketChannel>;

    // Makes `displayID` the one to share once capture restarts; false when nothing changes or the
    // switch is refused.
    bool selectsDisplay(std::uint32_t displayID, bool fromDevice);

    void pasteOnMac(const std::string& text, const Channel& channel);
    void copyFromMac(const Channel& channel);
    void requestKeyframe();
    void requestUpdate(const Channel& channel);
    std::optional<TessaloyCore::HostInfo::AvailableRelease> availableRelease() const;
    TessaloyCore::SessionMessage displayList() const;
    void applyQuality(TessaloyCore::QualityMode mode);
    void applySound(bool on);
    void applyVideoCodecs(const std::vector<TessaloyCore::VideoCodec>& list);
    // Switches capture to HEVC in its turn, with the device's latest choice.
    void switchToHevc();
    void setDeviceDrawsPointer();
    void leavePointerOutOfPicture();

    SessionContext c_;
    Collaborators own_;
    // Switches to HEVC of one session: the one under way or waiting, when the next may come, and
    // how long the one after waits.
    struct HevcSwitches {
        std::uint64_t sessionGeneration = 0;
        TessaloyBase::MainActor::Date next{};
        TessaloyBase::MainActor::Duration gap{1.0};
    };
    HevcSwitches hevcSwitches_;
    TaskHandle hevcSwitch_;
    // The update the device asked for, bound to its session.
};

} // namespace Plovander
