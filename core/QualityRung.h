#pragma once

#include "core/BitrateController.h"
#include "core/QualityMode.h"
#include "core/StreamProfile.h"

#include <vector>

namespace TessaloyCore {

// One step of a mode's quality ladder: what to capture and encode, and the range the bitrate
// controller may move in. The profile's bitrate is the rung's nominal rate and also its maximum;
// the controller starts at half of it (`startDivisor`), below which a lossy link gets a picture
// quickly, and may fall to a quarter of it (`minimumDivisor`) before the ladder steps down.
struct QualityRung {
    static constexpr std::int64_t startDivisor = 2;
    static constexpr std::int64_t minimumDivisor = 4;
    static constexpr double keyframeIntervalSeconds = 10;

    StreamProfile profile;
    BitrateController::Limits limits;

    // Best rung first; never empty. 16:9 pictures, a keyframe at least every 10 s.
    //   full:     1920x1080 at 60 fps 12 Mbit/s, 1920x1080 at 30 fps 8 Mbit/s, 1280x720 at 30 fps 4 Mbit/s
    //   balanced: 1920x1080 at 30 fps 6 Mbit/s,  1280x720 at 30 fps 3 Mbit/s,  960x540 at 24 fps 1.5 Mbit/s
    //   saver:    1280x720 at 30 fps 2 Mbit/s,   960x540 at 24 fps 1 Mbit/s,   640x360 at 15 fps 0.5 Mbit/s
    static std::vector<QualityRung> ladder(QualityMode mode);

    friend bool operator==(const QualityRung&, const QualityRung&) = default;
};

} // namespace TessaloyCore
