#include "app/shell/Settings.h"
#include "tests/support/MemoryUserDefaults.h"

#include <gtest/gtest.h>

namespace {

namespace Settings = Plovander::Settings;

TEST(Settings, ThreeSwitchesCountAsOnWhenAbsent) {
    Testing::MemoryUserDefaults defaults;
    EXPECT_TRUE(Settings::isOn(defaults, Settings::connect));
    EXPECT_TRUE(Settings::isOn(defaults, Settings::openRouterPort));
    EXPECT_TRUE(Settings::isOn(defaults, Settings::stayAwakeForPairedDevices));
    EXPECT_FALSE(Settings::isOn(defaults, Settings::allowRemoteControl));
    EXPECT_FALSE(Settings::isOn(defaults, Settings::listenForPairedDevices));
    EXPECT_FALSE(Settings::isOn(defaults, Settings::trace));
}

TEST(Settings, AStoredValueWinsOverTheDefault) {
    Testing::MemoryUserDefaults defaults;
    defaults.setBoolean(Settings::connect, false);
    defaults.setBoolean(Settings::allowRemoteControl, true);
    EXPECT_FALSE(Settings::isOn(defaults, Settings::connect));
    EXPECT_TRUE(Settings::isOn(defaults, Settings::allowRemoteControl));
}

} // namespace
