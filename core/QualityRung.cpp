#include "core/QualityRung.h"

namespace TessaloyCore {

namespace {

QualityRung rung(int width, int height, int framesPerSecond, std::int64_t bitrate) {
    return QualityRung{
        StreamProfile{width, height, framesPerSecond, bitrate, QualityRung::keyframeIntervalSeconds},
        BitrateController::Limits{bitrate / QualityRung::minimumDivisor, bitrate, bitrate / QualityRung::startDivisor},
    };
}

} // namespace

std::vector<QualityRung> QualityRung::ladder(QualityMode mode) {
    switch (mode) {
        case QualityMode::full:
            return {rung(1920, 1080, 60, 12'000'000), rung(1920, 1080, 30, 8'000'000), rung(1280, 720, 30, 4'000'000)};
        case QualityMode::saver:
            return {rung(1280, 720, 30, 2'000'000), rung(960, 540, 24, 1'000'000), rung(640, 360, 15, 500'000)};
        case QualityMode::balanced:
            break;
    }
    return {rung(1920, 1080, 30, 6'000'000), rung(1280, 720, 30, 3'000'000), rung(960, 540, 24, 1'500'000)};
}

} // namespace TessaloyCore
