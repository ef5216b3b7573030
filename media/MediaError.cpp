#include "media/MediaError.h"

namespace TessaloyMedia {

const char* nameOf(MediaProblem problem) noexcept {
    switch (problem) {
        case MediaProblem::unavailableCodec:
            return "unavailableCodec";
        case MediaProblem::openFailed:
            return "openFailed";
        case MediaProblem::invalidInput:
            return "invalidInput";
        case MediaProblem::encodeFailed:
            return "encodeFailed";
        case MediaProblem::decodeFailed:
            return "decodeFailed";
    }
    return "unknown";
}

} // namespace TessaloyMedia
