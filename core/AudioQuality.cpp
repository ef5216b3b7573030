#include "core/AudioQuality.h"

namespace TessaloyCore {

AudioQuality AudioQuality::of(QualityMode mode) noexcept {
    switch (mode) {
        case QualityMode::full:
            return {48'000, 2, 96'000};
        case QualityMode::saver:
            return {24'000, 1, 32'000};
        case QualityMode::balanced:
            return {48'000, 2, 64'000};
    }
    return {48'000, 2, 64'000};
}

} // namespace TessaloyCore
