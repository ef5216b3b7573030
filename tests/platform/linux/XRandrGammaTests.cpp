#include <gtest/gtest.h>

#include "platform/Displays.h"
#include "platform/Gamma.h"
#include "platform/linux/XRandrGamma.h"
#include "tests/support/XvfbServer.h"

#include <vector>

namespace {

using Platform::Gamma;

class XRandrGammaTest : public ::testing::Test {
protected:
    Testing::XvfbServer server{{.width = 640, .height = 360, .disabledExtensions = {}}};
    std::unique_ptr<Gamma> gamma = Gamma::create(server.displayName());
};

TEST_F(XRandrGammaTest, BlackensADisplayAndGivesItBackTheRampsItHad) {
    const std::vector<std::uint32_t> online = gamma->onlineDisplays();
    ASSERT_EQ(online.size(), 1u);
    EXPECT_EQ(online[0], Platform::Displays::create(server.displayName())->list().at(0).displayID);
    const std::uint32_t display = online[0];

    // The display's own calibration, set by someone else: two-entry ramps stretched over its size.
    const Gamma::Ramps calibration{{0.0f, 1.0f}, {0.0f, 0.5f}, {1.0f, 1.0f}};
    ASSERT_TRUE(Platform::Linux::XRandrGamma(server.displayName(), Platform::Linux::XRandrGamma::Guard::none)
                    .setRamps(display, calibration));
    const std::optional<Gamma::Ramps> calibrated = gamma->ramps(display);
    ASSERT_TRUE(calibrated.has_value());
    ASSERT_GT(calibrated->red.size(), 2u);
    EXPECT_FLOAT_EQ(calibrated->red.back(), 1.0f);
    EXPECT_NEAR(calibrated->green[calibrated->green.size() / 2], 0.25f, 0.01f);
    EXPECT_FLOAT_EQ(calibrated->blue.front(), 1.0f);

    // Blanked twice, then restored: the calibration, not the first black, comes back.
    const Gamma::Ramps black{{0.0f, 0.0f}, {0.0f, 0.0f}, {0.0f, 0.0f}};
    ASSERT_TRUE(gamma->setRamps(display, black));
    ASSERT_TRUE(gamma->setRamps(display, black));
    const std::vector<float> zeros(calibrated->red.size(), 0.0f);
    EXPECT_EQ(gamma->ramps(display), (Gamma::Ramps{zeros, zeros, zeros}));
    gamma->restoreSavedRamps();
    EXPECT_EQ(gamma->ramps(display), calibrated);
}

TEST_F(XRandrGammaTest, AnUnknownDisplayTakesNothing) {
    EXPECT_FALSE(gamma->ramps(12345).has_value());
    EXPECT_FALSE(gamma->setRamps(12345, {{0.0f}, {0.0f}, {0.0f}}));
    gamma->restoreSavedRamps();
}

TEST(XRandrGamma, WithoutAServerThereAreNoDisplays) {
    const auto gamma = Gamma::create(":4095");
    EXPECT_TRUE(gamma->onlineDisplays().empty());
    EXPECT_FALSE(gamma->setRamps(1, {{0.0f}, {0.0f}, {0.0f}}));
}

} // namespace
