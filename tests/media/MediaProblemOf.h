#pragma once

#include "media/MediaError.h"

#include <gtest/gtest.h>

#include <functional>

namespace MediaTesting {

// The problem `action` throws as a MediaError, which must say what went wrong; a test failure when
// it throws none.
inline TessaloyMedia::MediaProblem problemOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const TessaloyMedia::MediaError& failure) {
        EXPECT_FALSE(failure.text().empty());
        return failure.value();
    }
    ADD_FAILURE() << "no MediaError";
    return TessaloyMedia::MediaProblem::decodeFailed;
}

} // namespace MediaTesting
