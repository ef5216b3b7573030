#include "app/shell/StreamPreferences.h"

#include <algorithm>
#include <utility>

namespace Plovander {

using TessaloyCore::VideoCodec;

StreamPreferences::StreamPreferences(TessaloyCore::QualityMode mode, std::function<bool()> encodesHevcInHardware)
    : ladder_(TessaloyCore::QualityRung::ladder(mode).size()),
      encodesHevcInHardware_(std::move(encodesHevcInHardware)) {}

void StreamPreferences::restartLadder(TessaloyCore::QualityMode mode) {
    ladder_ = TessaloyCore::QualityLadder(TessaloyCore::QualityRung::ladder(mode).size());
}

void StreamPreferences::reset(TessaloyCore::QualityMode mode) {
    restartLadder(mode);
    deviceCodecs_ = {VideoCodec::h264};
    deviceWantsOwnPointer = false;
}

bool StreamPreferences::setDeviceCodecs(std::set<VideoCodec> codecs) {
    codecs.insert(VideoCodec::h264);
    if (codecs == deviceCodecs_) return false;
    deviceCodecs_ = std::move(codecs);
    return true;
}

VideoCodec StreamPreferences::preferredCodec() const {
    // Software HEVC (x265) cannot hold a 1080p30 stream's pace on a couple of cores: the device would
    // see it stutter, where H.264 keeps up.
    return deviceCodecs_.contains(VideoCodec::hevc) && encodesHevcInHardware_() ? VideoCodec::hevc : VideoCodec::h264;
}

TessaloyCore::QualityRung StreamPreferences::currentRung(TessaloyCore::QualityMode mode) const {
    const auto rungs = TessaloyCore::QualityRung::ladder(mode);
    return rungs[std::min(ladder_.rung(), rungs.size() - 1)];
}

} // namespace Plovander
