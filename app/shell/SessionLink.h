#pragma once

#include "app/runtime/TaskHandle.h"
#include "base/MainActor.h"
#include "core/Bytes.h"
#include "core/SessionMessage.h"
#include "net/channel/HostListener.h"
#include "net/channel/PacketChannel.h"
#include "net/send/VideoSender.h"
#include "net/session/HostSessionState.h"

#include <memory>
#include <optional>

namespace Plovander {

// The controller's hold on one device: the session's state machine, the listener that serves it,
// the session's own channels and sender, and the keys the device showed. Main actor only.
struct SessionLink {
    TessaloyNet::HostSessionState state;
    std::shared_ptr<TessaloyNet::HostListener> listener;
    std::shared_ptr<TessaloyNet::PacketChannel> controlChannel;
    std::shared_ptr<TessaloyNet::VideoSender> sender;
    // The key of the device the session belongs to, fixed by the first channel accepted for it;
    // empty when that channel showed none, which no later channel matches.
    std::optional<TessaloyCore::Bytes> sessionPeerKey;
    // The long-term key the device sent (or is stored with) for pairing.
    std::optional<TessaloyCore::Bytes> pendingPeerKey;
    // Closes a control channel that no media channel joined in time.
    TessaloyBase::ScheduledCall mediaDeadline;
    // The capture start of an approved session; empty once it ended or was cancelled.
    TaskHandle startupTask;
    // An update the device asked for; a stop withdraws it.
    TaskHandle remoteUpdate;
    // The capture restarts for the device's quality and codec choices; a stop calls them off.
    TaskHandle captureRestart;
    bool localCursorEnabled = false;
    // A switch into local-pointer mode is under way on the current control channel.
    bool cursorModeStarting = false;

    // The session's media or control channel.
    bool isOwnChannel(const TessaloyNet::PacketChannel& channel) const;
    // Whether `channel` may join the session: the first channel accepted fixes the session's
    // device, whatever its role, and every later one must come from that device.
    bool admitsDeviceOf(const TessaloyNet::PacketChannel& channel);
    // Forgets the control channel when no media channel joined it, so that it names no device any
    // more; returns it. Nothing when there is none or the session has its media channel.
    std::shared_ptr<TessaloyNet::PacketChannel> dropLoneControlChannel();
    // Sends at once on the control channel; false when there is none or the message cannot go.
    bool sendOnControl(const TessaloyCore::SessionMessage& message) const;
    bool isStreaming() const { return state.phase().is<TessaloyNet::HostSessionState::Phase::Streaming>(); }
};

} // namespace Plovander
