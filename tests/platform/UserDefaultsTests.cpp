#include "tests/support/MemoryUserDefaults.h"

#include <gtest/gtest.h>

namespace {

using Platform::UserDefaults;
using Testing::MemoryUserDefaults;

TEST(UserDefaults, TellsAbsentFromFalseAndZero) {
    MemoryUserDefaults defaults;
    EXPECT_EQ(defaults.boolean("TessaloyTrace"), std::nullopt);
    EXPECT_EQ(defaults.integer("TessaloyListenPort"), std::nullopt);

    defaults.setBoolean("TessaloyTrace", false);
    defaults.setInteger("TessaloyListenPort", 0);
    EXPECT_EQ(defaults.boolean("TessaloyTrace"), false);
    EXPECT_EQ(defaults.integer("TessaloyListenPort"), 0);

    defaults.remove("TessaloyTrace");
    EXPECT_EQ(defaults.boolean("TessaloyTrace"), std::nullopt);
}

TEST(UserDefaults, ReadsTextInTheTypeAsked) {
    MemoryUserDefaults defaults;
    defaults.setText("A", "YES");
    defaults.setText("B", "-42");
    defaults.setText("C", "42 ports");
    EXPECT_EQ(defaults.boolean("A"), true);
    EXPECT_EQ(defaults.integer("B"), -42);
    EXPECT_EQ(defaults.integer("C"), std::nullopt);
    EXPECT_EQ(defaults.boolean("C"), std::nullopt);
    EXPECT_EQ(defaults.text("C"), "42 ports");
}

TEST(UserDefaults, LaunchArgumentsOverrideWithoutBeingStored) {
    MemoryUserDefaults defaults(
        UserDefaults::parseLaunchArguments({"-TessaloyListenPort", "6000", "-TessaloyTrace", "1"}));
    defaults.setInteger("TessaloyListenPort", 55801);

    EXPECT_EQ(defaults.integer("TessaloyListenPort"), 6000);
    EXPECT_EQ(defaults.boolean("TessaloyTrace"), true);
    EXPECT_EQ(defaults.stored().at("TessaloyListenPort"), "55801");
    EXPECT_FALSE(defaults.stored().contains("TessaloyTrace"));
}

TEST(UserDefaults, LaunchArgumentsTakeOnlyKeyValuePairs) {
    const auto overrides = UserDefaults::parseLaunchArguments({"--verbose", "-TessaloyAfterUpdate", "1234", "-Lonely"});
    EXPECT_EQ(overrides.size(), 1u);
    EXPECT_EQ(overrides.at("TessaloyAfterUpdate"), "1234");
}

} // namespace
