#include "core/QualityMode.h"

namespace TessaloyCore {

const char* nameOf(QualityMode mode) noexcept {
    switch (mode) {
        case QualityMode::full:
            return "full";
        case QualityMode::saver:
            return "saver";
        case QualityMode::balanced:
            return "balanced";
    }
    return "unknown";
}

std::optional<QualityMode> qualityModeFromByte(std::uint8_t byte) noexcept {
    if (byte >= 1 && byte <= 3) return static_cast<QualityMode>(byte);
    return std::nullopt;
}

} // namespace TessaloyCore
