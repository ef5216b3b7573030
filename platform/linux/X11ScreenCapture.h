#pragma once

#include "base/SerialQueue.h"
#include "platform/ScreenCapture.h"

#include <chrono>
#include <memory>
#include <string>

namespace Platform::Linux {

// Captures one monitor of an X screen: ticks on the capture queue, several a frame interval while
// the screen changes (one a frame interval once it has been still for `stillAfter`), read the
// pending XDamage and, when the monitor's area changed, grab it through MIT-SHM (XGetImage where
// the server cannot share memory) and draw the pointer into it, as soon as the frame rate allows:
// one grab a frame interval on average, a change that comes early by up to half an interval taken
// at once. The pointer's place is looked at once a frame interval.
//
// A grab the server refuses (a monitor being resized) is a temporary failure: the tick is skipped
// and the monitor looked up again; only when grabs keep failing for `failureGrace`, or the
// connection breaks, or the monitor is gone, does capture stop with `onStopped`.
class X11ScreenCapture final : public ScreenCapture {
public:
    static constexpr std::chrono::seconds failureGrace{2};
    // How often a running capture looks for changes of its monitor when RandR sends no event.
    static constexpr std::chrono::seconds displayCheckInterval{1};
    // Ticks per frame interval, but never closer together than the minimum.
    static constexpr int pollsPerFrame = 8;
    static constexpr std::chrono::milliseconds minimumPollInterval{2};
    static constexpr std::chrono::seconds stillAfter{1};

    X11ScreenCapture(TessaloyBase::SerialQueue& queue, std::string displayName);
    ~X11ScreenCapture() override;

    void start(const Configuration& configuration, Callbacks callbacks) override;
    void stop() override;
    bool isRunning() const override;
    bool setShowsCursor(bool showsCursor) override;
    void requestFrame() override;

private:
    class Run;

    TessaloyBase::SerialQueue& queue_;
    std::string displayName_;
    // A tick keeps its run alive while it works, so a run dropped from inside a callback goes when
    // that callback's tick ends.
    std::shared_ptr<Run> run_;
};

} // namespace Platform::Linux
