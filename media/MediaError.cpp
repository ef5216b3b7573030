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

const char* descriptionOf(MediaProblem problem) noexcept {
    switch (problem) {
        case MediaProblem::unavailableCodec:
            return "The codec is not available.";
        case MediaProblem::openFailed:
            return "The codec could not be opened.";
        case MediaProblem::invalidInput:
            return "The codec was given unusable input.";
        case MediaProblem::encodeFailed:
            return "Encoding failed.";
        case MediaProblem::decodeFailed:
            return "Decoding failed.";
    }
    return "Something went wrong.";
}

} // namespace TessaloyMedia
