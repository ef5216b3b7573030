#include <gtest/gtest.h>

#include "platform/CursorImage.h"
#include "tests/platform/linux/X11InputWindow.h"
#include "tests/support/XvfbServer.h"

#include <X11/cursorfont.h>

namespace {

using Platform::CursorImage;
using Testing::X11InputWindow;
using Testing::XvfbServer;

class XFixesCursorImageTest : public ::testing::Test {
protected:
    XvfbServer server;
    X11InputWindow window{server.displayName()};
    std::unique_ptr<CursorImage> cursor = CursorImage::create(server.displayName());
};

TEST_F(XFixesCursorImageTest, ReadsThePointersPictureHotSpotAndSerial) {
    ASSERT_NE(cursor, nullptr);
    window.showCursor(XC_left_ptr);
    const auto arrow = cursor->current();
    ASSERT_TRUE(arrow);
    EXPECT_GT(arrow->width, 0);
    EXPECT_GT(arrow->height, 0);
    EXPECT_EQ(arrow->scale, 1);
    EXPECT_EQ(arrow->pointWidth(), arrow->width);
    EXPECT_EQ(arrow->pixels.size(), static_cast<std::size_t>(arrow->width * arrow->height));
    EXPECT_GE(arrow->hotspotX, 0);
    EXPECT_LT(arrow->hotspotX, arrow->width);
    // Some pixels are drawn, some are transparent.
    EXPECT_TRUE(std::any_of(arrow->pixels.begin(), arrow->pixels.end(), [](auto p) { return p >> 24 == 0xff; }));
    EXPECT_TRUE(std::any_of(arrow->pixels.begin(), arrow->pixels.end(), [](auto p) { return p >> 24 == 0; }));
    EXPECT_EQ(cursor->current(), arrow);

    window.showCursor(XC_xterm);
    const auto iBeam = cursor->current();
    ASSERT_TRUE(iBeam);
    EXPECT_NE(iBeam->serial, arrow->serial);
    EXPECT_NE(iBeam->pixels, arrow->pixels);
}

TEST_F(XFixesCursorImageTest, AGoneServerHasNoPointer) {
    server.kill();
    EXPECT_FALSE(cursor->current());
}

TEST(XFixesCursorImageCreationTest, NeedsAServerWithXFixes) {
    std::string whyNot;
    EXPECT_EQ(CursorImage::create(":9999", &whyNot), nullptr);
    EXPECT_NE(whyNot.find(":9999"), std::string::npos);

    XvfbServer server({.width = 640, .height = 480, .disabledExtensions = {"XFIXES"}});
    EXPECT_EQ(CursorImage::create(server.displayName(), &whyNot), nullptr);
    EXPECT_NE(whyNot.find("XFixes"), std::string::npos);
}

} // namespace
