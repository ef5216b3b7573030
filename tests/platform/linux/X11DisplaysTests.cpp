#include <gtest/gtest.h>

#include "platform/Displays.h"
#include "platform/linux/X11Monitors.h"
#include "tests/support/X11TestDesktop.h"
#include "tests/support/XvfbServer.h"

#include <algorithm>

namespace {

using Platform::Displays;
using Platform::DisplaysError;
using Platform::ShareableDisplay;
using Platform::Linux::X11Monitors;
using Testing::X11TestDesktop;
using Testing::XvfbServer;

class X11DisplaysTest : public ::testing::Test {
protected:
    XvfbServer server;
    X11TestDesktop desktop{server.displayName()};
    std::unique_ptr<Displays> displays = Displays::create(server.displayName());
};

TEST_F(X11DisplaysTest, ListsTheScreenOfAFreshServerAsOneMainDisplay) {
    ASSERT_NE(displays, nullptr);
    const auto list = displays->list();
    ASSERT_EQ(list.size(), 1u);
    const ShareableDisplay& only = list.front();
    EXPECT_EQ(only.displayID, desktop.firstOutput());
    EXPECT_NE(only.displayID, 0u);
    EXPECT_EQ(only.width, 1920);
    EXPECT_EQ(only.height, 1080);
    EXPECT_TRUE(only.isMain);
    EXPECT_EQ(only.bounds, (ShareableDisplay::Bounds{0, 0, 1920, 1080}));
    EXPECT_EQ(only.name, "screen");
    // The same answer every time.
    EXPECT_EQ(displays->list(), list);
}

TEST_F(X11DisplaysTest, ListsTwoMonitorsWithTheirBoundsIdsAndNames) {
    desktop.addMonitor("LEFT", {0, 0, 1280, 1080}, false, true);
    desktop.addMonitor("RIGHT", {1280, 0, 640, 480}, true, false);
    auto list = displays->list();
    ASSERT_EQ(list.size(), 2u);
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.bounds.x < b.bounds.x; });

    const ShareableDisplay& left = list[0];
    const ShareableDisplay& right = list[1];
    EXPECT_EQ(left.displayID, desktop.firstOutput());
    EXPECT_EQ(left.bounds, (ShareableDisplay::Bounds{0, 0, 1280, 1080}));
    EXPECT_EQ(left.width, 1280);
    EXPECT_EQ(left.height, 1080);
    EXPECT_FALSE(left.isMain);
    EXPECT_EQ(left.name, "screen");

    // A monitor without an output: a flagged ID that no output can have, and a generic name.
    EXPECT_NE(right.displayID & X11Monitors::outputlessIDBit, 0u);
    EXPECT_NE(right.displayID, left.displayID);
    EXPECT_EQ(right.bounds, (ShareableDisplay::Bounds{1280, 0, 640, 480}));
    EXPECT_EQ(right.width, 640);
    EXPECT_EQ(right.height, 480);
    EXPECT_TRUE(right.isMain);
    EXPECT_EQ(right.name, "Display " + std::to_string(right.displayID));

    // IDs stay put while the monitors do.
    auto again = displays->list();
    std::sort(again.begin(), again.end(), [](const auto& a, const auto& b) { return a.bounds.x < b.bounds.x; });
    EXPECT_EQ(again, list);
}

TEST_F(X11DisplaysTest, WithoutAPrimaryMonitorTheFirstListedIsMain) {
    desktop.addMonitor("A", {0, 0, 960, 1080}, false, true);
    desktop.addMonitor("B", {960, 0, 960, 1080}, false, false);
    const auto list = displays->list();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(list[0].isMain);
    EXPECT_FALSE(list[1].isMain);
}

TEST_F(X11DisplaysTest, NamesAMonitorAfterItsEdid) {
    desktop.setEdid(desktop.firstOutput(), X11TestDesktop::edidNamed("Studio 27"));
    const auto list = displays->list();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.front().name, "Studio 27");

    // An EDID without a usable name falls back to the output's name.
    auto broken = X11TestDesktop::edidNamed("Studio 27");
    broken[127] ^= 0xff;
    desktop.setEdid(desktop.firstOutput(), broken);
    EXPECT_EQ(displays->list().front().name, "screen");
}

TEST_F(X11DisplaysTest, FollowsMonitorsAsTheyComeAndGo) {
    desktop.addMonitor("EXTRA", {0, 0, 800, 600}, true, false);
    EXPECT_EQ(displays->list().size(), 2u);
    desktop.removeMonitor("EXTRA");
    const auto list = displays->list();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.front().displayID, desktop.firstOutput());
    EXPECT_TRUE(list.front().isMain);
}

TEST_F(X11DisplaysTest, ALostServerIsAnErrorNotACrash) {
    server.kill();
    try {
        displays->list();
        FAIL() << "listed the displays of a dead server";
    } catch (const DisplaysError& error) {
        EXPECT_NE(std::string(error.what()).find(server.displayName()), std::string::npos) << error.what();
    }
    EXPECT_THROW(displays->list(), DisplaysError);
}

TEST(X11Displays, AServerWithoutRandRIsOneDisplayCoveringTheRootWindow) {
    XvfbServer server({.width = 1280, .height = 720, .disabledExtensions = {"RANDR"}});
    X11TestDesktop desktop(server.displayName());
    const auto displays = Displays::create(server.displayName());
    ASSERT_NE(displays, nullptr);
    const auto list = displays->list();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.front().displayID, desktop.connection().root());
    EXPECT_EQ(list.front().bounds, (ShareableDisplay::Bounds{0, 0, 1280, 720}));
    EXPECT_EQ(list.front().width, 1280);
    EXPECT_EQ(list.front().height, 720);
    EXPECT_TRUE(list.front().isMain);
    EXPECT_EQ(list.front().name, "Display " + std::to_string(list.front().displayID));
}

TEST(X11Displays, CreateWithoutAServerReturnsNothingAndSaysWhy) {
    std::string whyNot;
    EXPECT_EQ(Displays::create(":65002", &whyNot), nullptr);
    EXPECT_NE(whyNot.find(":65002"), std::string::npos) << whyNot;
    EXPECT_EQ(Displays::create(":65002"), nullptr);
}

} // namespace
