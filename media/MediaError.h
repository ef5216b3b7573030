#pragma once

#include "core/CaseError.h"

#include <string>

namespace TessaloyMedia {

// What went wrong in an encoder or decoder: the codec is not in this FFmpeg build, it refused to
// open, the caller's input (settings, picture, samples) is unusable, or coding itself failed.
enum class MediaProblem { unavailableCodec, openFailed, invalidInput, encodeFailed, decodeFailed };

const char* nameOf(MediaProblem problem) noexcept;
// The sentence for the user.
const char* descriptionOf(MediaProblem problem) noexcept;

// The failure of a media component: its case for trace lines and a text (with FFmpeg's own words
// where FFmpeg failed) that the app shows after "Encoder failed: ".
class MediaError : public TessaloyCore::CaseError<MediaProblem> {
public:
    MediaError(MediaProblem problem, std::string text) : CaseError(problem), text_(std::move(text)) {}

    const std::string& text() const noexcept { return text_; }
    const char* what() const noexcept override { return text_.c_str(); }
    std::string description() const override { return text_; }

private:
    std::string text_;
};

} // namespace TessaloyMedia
