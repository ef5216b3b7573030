#pragma once

#include "base/MainActor.h"
#include "platform/Gamma.h"

namespace Plovander {

// Makes every display show black while a session asks for a blank screen: an all-zero ramp,
// loaded again every half second so that a display attached meanwhile turns black too, and the
// displays' own ramps given back afterwards. Main actor only.
class ScreenBlanker final {
public:
    static constexpr TessaloyBase::MainActor::Duration reapplyInterval{0.5};

    ScreenBlanker(TessaloyBase::MainActor& actor, Platform::Gamma& gamma) : actor_(actor), gamma_(gamma) {}
    ~ScreenBlanker();
    ScreenBlanker(const ScreenBlanker&) = delete;
    ScreenBlanker& operator=(const ScreenBlanker&) = delete;

    void setBlanking(bool on);
    // Whether blanking was asked for.
    bool isBlanking() const { return isBlanking_; }
    // Whether a display shows black now: what the device may be told is in force.
    bool blacksOutADisplay() const { return blackDisplays_ > 0; }

private:
    void apply();
    void scheduleTick();

    TessaloyBase::MainActor& actor_;
    Platform::Gamma& gamma_;
    bool isBlanking_ = false;
    int blackDisplays_ = 0;
    TessaloyBase::ScheduledCall tick_;
};

} // namespace Plovander
