#include "app/shell/SessionCapture.h"
#include "core/CursorUpdate.h"

#include <gtest/gtest.h>

namespace {

using Plovander::SessionCapture;

TEST(CursorUpdateForTheDevice, PlacesThePointerInsideTheSharedDisplay) {
    const Platform::ShareableDisplay::Bounds display{0, 0, 1920, 1080};
    const auto centre = SessionCapture::cursorUpdate(7, {960, 540}, display);
    ASSERT_TRUE(centre);
    const auto update = TessaloyCore::CursorUpdate::decode(*centre);
    EXPECT_EQ(update.sequence(), 7u);
    EXPECT_DOUBLE_EQ(update.x(), 0.5);
    EXPECT_DOUBLE_EQ(update.y(), 0.5);
    EXPECT_EQ(update.displayWidth(), 1920);
    EXPECT_EQ(update.displayHeight(), 1080);
    EXPECT_TRUE(update.visible());

    const auto outside = TessaloyCore::CursorUpdate::decode(*SessionCapture::cursorUpdate(1, {-10, 2000}, display));
    EXPECT_DOUBLE_EQ(outside.x(), 0);
    EXPECT_DOUBLE_EQ(outside.y(), 1);
    EXPECT_FALSE(outside.visible());

    const auto second = TessaloyCore::CursorUpdate::decode(
        *SessionCapture::cursorUpdate(2, {1920 + 480, 270}, Platform::ShareableDisplay::Bounds{1920, 0, 1280, 720}));
    EXPECT_DOUBLE_EQ(second.x(), 0.375);
    EXPECT_TRUE(second.visible());

    EXPECT_FALSE(SessionCapture::cursorUpdate(1, {0, 0}, {0, 0, 0, 1080}));
}

} // namespace
