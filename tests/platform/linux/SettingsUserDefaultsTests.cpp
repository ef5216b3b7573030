#include "platform/linux/SettingsUserDefaults.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <sstream>

namespace {

using Platform::UserDefaults;
using Platform::Linux::SettingsUserDefaults;

std::string contents(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Read back at once, while the disk is busy, and saved once it comes to them.
TEST(SettingsUserDefaults, KeepsValuesAcrossInstances) {
    Testing::TemporaryDirectory folder;
    const auto file = folder / "tessaloy" / "plovander.conf";
    const TessaloyBase::DiskQueue disk;
    std::promise<void> diskFree;
    disk.queue().async([free = diskFree.get_future().share()] { free.wait_for(std::chrono::seconds(20)); });
    {
        SettingsUserDefaults defaults(file, {}, disk);
        defaults.setBoolean("TessaloyAllowRemoteControl", false);
        defaults.setInteger("TessaloyListenPort", 55900);
        defaults.setText("TessaloyRelay", "relay.example 443 a b");
        EXPECT_EQ(defaults.integer("TessaloyListenPort"), 55900);
        EXPECT_FALSE(std::filesystem::exists(file));
    }
    diskFree.set_value();
    disk.drain();
    SettingsUserDefaults reopened(file, {});
    EXPECT_EQ(reopened.boolean("TessaloyAllowRemoteControl"), false);
    EXPECT_EQ(reopened.integer("TessaloyListenPort"), 55900);
    EXPECT_EQ(reopened.text("TessaloyRelay"), "relay.example 443 a b");
    EXPECT_EQ(reopened.boolean("TessaloyConnect"), std::nullopt);
}

TEST(SettingsUserDefaults, LaunchArgumentOverridesAreNeverWritten) {
    Testing::TemporaryDirectory folder;
    const auto file = folder / "plovander.conf";
    SettingsUserDefaults defaults(file, UserDefaults::parseLaunchArguments({"-TessaloyTrace", "YES"}));
    defaults.setInteger("TessaloyListenPort", 1234);

    EXPECT_EQ(defaults.boolean("TessaloyTrace"), true);
    EXPECT_EQ(contents(file).find("TessaloyTrace"), std::string::npos);
    EXPECT_NE(contents(file).find("TessaloyListenPort"), std::string::npos);
    EXPECT_EQ(SettingsUserDefaults(file, {}).boolean("TessaloyTrace"), std::nullopt);
}

TEST(SettingsUserDefaults, AFileThatCannotBeReadGivesTheDefaultsAndIsLeftAsItIs) {
    Testing::TemporaryDirectory folder;
    const auto file = folder / "plovander.conf";
    const std::string unclosedSection = "[General\nTessaloyListenPort=1234\n";
    std::ofstream(file) << unclosedSection;
    {
        SettingsUserDefaults defaults(file, {});
        EXPECT_EQ(defaults.readProblem(), file.string() + " is not a settings file");
        EXPECT_EQ(defaults.integer("TessaloyListenPort"), std::nullopt);
        defaults.setInteger("TessaloyListenPort", 99);
        EXPECT_EQ(defaults.integer("TessaloyListenPort"), 99) << "for this run";
    }
    EXPECT_EQ(contents(file), unclosedSection);
}

} // namespace
