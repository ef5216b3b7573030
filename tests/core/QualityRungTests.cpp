#include "core/AudioQuality.h"
#include "core/QualityRung.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace TessaloyCore;

struct Expected {
    int width;
    int height;
    int framesPerSecond;
    std::int64_t bitrate;
};

void expectLadder(QualityMode mode, const std::vector<Expected>& expected) {
    SCOPED_TRACE(nameOf(mode));
    const auto rungs = QualityRung::ladder(mode);
    ASSERT_EQ(rungs.size(), expected.size());
    for (std::size_t i = 0; i < rungs.size(); ++i) {
        const StreamProfile& profile = rungs[i].profile;
        EXPECT_EQ(profile, (StreamProfile{expected[i].width, expected[i].height, expected[i].framesPerSecond,
                                          expected[i].bitrate, 10.0}))
            << "rung " << i;
        EXPECT_EQ(profile.width * 9, profile.height * 16) << "rung " << i;
        EXPECT_EQ(rungs[i].limits,
                  (BitrateController::Limits{expected[i].bitrate / 4, expected[i].bitrate, expected[i].bitrate / 2}))
            << "rung " << i;
        if (i > 0) {
            // Best first: every later rung asks less of the link.
            EXPECT_LT(rungs[i].limits.maximum, rungs[i - 1].limits.maximum);
            EXPECT_LT(rungs[i].limits.start, rungs[i - 1].limits.start);
        }
    }
}

TEST(QualityRung, FullLadder) {
    expectLadder(QualityMode::full,
                 {{1920, 1080, 60, 12'000'000}, {1920, 1080, 30, 8'000'000}, {1280, 720, 30, 4'000'000}});
}

TEST(QualityRung, BalancedLadder) {
    expectLadder(QualityMode::balanced,
                 {{1920, 1080, 30, 6'000'000}, {1280, 720, 30, 3'000'000}, {960, 540, 24, 1'500'000}});
}

TEST(QualityRung, SaverLadder) {
    expectLadder(QualityMode::saver, {{1280, 720, 30, 2'000'000}, {960, 540, 24, 1'000'000}, {640, 360, 15, 500'000}});
}

TEST(AudioQuality, SettingsPerMode) {
    EXPECT_EQ(AudioQuality::of(QualityMode::full), (AudioQuality{48'000, 2, 96'000}));
    EXPECT_EQ(AudioQuality::of(QualityMode::saver), (AudioQuality{24'000, 1, 32'000}));
    EXPECT_EQ(AudioQuality::of(QualityMode::balanced), (AudioQuality{48'000, 2, 64'000}));
}

} // namespace
