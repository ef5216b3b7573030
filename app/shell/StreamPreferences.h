#pragma once

#include "core/QualityLadder.h"
#include "core/QualityMode.h"
#include "core/QualityRung.h"
#include "core/VideoCodec.h"

#include <functional>
#include <set>

namespace Plovander {

// What the device chose for its stream: the quality ladder of the current mode, the codecs it
// decodes and whether it wants sound. Main actor only.
class StreamPreferences {
public:
    // `encodesHevcInHardware` tells whether this computer has a hardware HEVC encoder, as far as it
    // knows at the time of asking.
    StreamPreferences(TessaloyCore::QualityMode mode, std::function<bool()> encodesHevcInHardware);

    // A fresh ladder for `mode`, at its first rung.
    void restartLadder(TessaloyCore::QualityMode mode);
    // What the next device starts with: a fresh ladder, H.264 only and the pointer in the picture.
    void reset(TessaloyCore::QualityMode mode);
    // Returns whether the set changed; H.264 is always in it.
    bool setDeviceCodecs(std::set<TessaloyCore::VideoCodec> codecs);

    // HEVC when the device decodes it and a hardware encoder makes it, else H.264.
    TessaloyCore::VideoCodec preferredCodec() const;
    TessaloyCore::QualityRung currentRung(TessaloyCore::QualityMode mode) const;
    const std::set<TessaloyCore::VideoCodec>& deviceCodecs() const { return deviceCodecs_; }

    bool wantsSound = true;
    // The device said it draws the pointer itself.
    bool deviceWantsOwnPointer = false;

private:
    TessaloyCore::QualityLadder ladder_;
    std::function<bool()> encodesHevcInHardware_;
    std::set<TessaloyCore::VideoCodec> deviceCodecs_{TessaloyCore::VideoCodec::h264};
};

} // namespace Plovander
