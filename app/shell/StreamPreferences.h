#pragma once

#include "core/QualityLadder.h"
#include "core/QualityMode.h"
#include "core/QualityRung.h"
#include "core/VideoCodec.h"

#include <set>

namespace Plovander {

// What the device chose for its stream: the quality ladder of the current mode, the codecs it
// decodes and whether it wants sound. Main actor only.
class StreamPreferences {
public:
    explicit StreamPreferences(TessaloyCore::QualityMode mode);

    // A fresh ladder for `mode`, at its first rung.
    void restartLadder(TessaloyCore::QualityMode mode);
    // What the next device starts with: a fresh ladder, H.264 only and the pointer in the picture.
    void reset(TessaloyCore::QualityMode mode);
    // Returns whether the set changed; H.264 is always in it.
    bool setDeviceCodecs(std::set<TessaloyCore::VideoCodec> codecs);

    TessaloyCore::VideoCodec preferredCodec() const;
    TessaloyCore::QualityRung currentRung(TessaloyCore::QualityMode mode) const;
    const std::set<TessaloyCore::VideoCodec>& deviceCodecs() const { return deviceCodecs_; }

    bool wantsSound = true;
    // The device said it draws the pointer itself.
    bool deviceWantsOwnPointer = false;

private:
    TessaloyCore::QualityLadder ladder_;
    std::set<TessaloyCore::VideoCodec> deviceCodecs_{TessaloyCore::VideoCodec::h264};
};

} // namespace Plovander
