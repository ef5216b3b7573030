#pragma once

#include "core/VideoCodec.h"
#include "media/VideoEncoder.h"

namespace Bench {

// The encoder settings of a live 60 fps stream at the top rungs' bitrates: 12 Mbit/s at 1080p,
// 4 Mbit/s below.
inline TessaloyMedia::VideoEncoder::Settings liveVideoSettings(TessaloyCore::VideoCodec codec, int width, int height) {
    TessaloyMedia::VideoEncoder::Settings settings;
    settings.codec = codec;
    settings.width = width;
    settings.height = height;
    settings.framesPerSecond = 60;
    settings.bitrate = width >= 1'920 ? 12'000'000 : 4'000'000;
    settings.keyframeIntervalSeconds = 10;
    return settings;
}

} // namespace Bench
