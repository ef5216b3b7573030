#pragma once

#include "app/capture/CaptureProbe.h"
#include "app/shell/SingleInstance.h"
#include "app/shell/StreamingSession.h"
#include "base/SerialQueue.h"
#include "platform/Environment.h"

#include <qcoro/qcorotask.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Plovander {

// The application: its start-up, in order, and the objects that live until it quits.
class TessaloyHostApp {
public:
    // Steps before anything else runs: waits for a copy that an update replaced, then makes sure
    // this is the only copy of the user. Returns the lock to hold for the life of the process, or
    // nothing when another copy runs (it has said so in the trace; exit with status 0). Should a
    // copy started as the replaced one ended take the lock first, this one says so and quits.
    static std::optional<SingleInstance> ensureSingleInstance(const std::vector<std::string>& launchArguments,
                                                              const std::filesystem::path& lockFile);

    // The rest of start-up: the login item, this computer's kind, the capture probe and the
    // controller (with the updater `makeUpdater` makes), then on the first turn of the main actor
    // the display listing.
    TessaloyHostApp(Platform::Environment& environment, const UpdaterFactory& makeUpdater);

    CaptureProbe& capture() { return *capture_; }
    StreamingSession& session() { return *session_; }

    // Quitting, once the views have gone: the controller goes, then the capture finishes what it has
    // in flight (the stop of a session that has just ended, say) and stops. The main actor's events
    // must run until it ends, or for quitPatience at most: a capture step left waiting for them
    // would keep its encoder and queues for good. What the stores still hold to save is saved with
    // the rest of the blocking work, which the process waits for before the environment goes.
    QCoro::Task<> quit();
    static constexpr std::chrono::seconds quitPatience{3};

private:
    Platform::Environment& environment_;
    TessaloyBase::SerialQueue captureQueue_{"dev.tessaloy.capture"};
    TessaloyBase::SerialQueue audioQueue_{"dev.tessaloy.capture-audio"};
    std::unique_ptr<CaptureProbe> capture_;
    std::unique_ptr<StreamingSession> session_;
};

} // namespace Plovander
