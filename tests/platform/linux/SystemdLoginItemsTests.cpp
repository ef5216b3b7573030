#include "platform/linux/SystemdLoginItems.h"

#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

using Platform::LoginItems;
using Platform::Linux::SystemdLoginItems;
using Item = LoginItems::Item;
using Status = LoginItems::Status;

std::string contentsOf(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class SystemdLoginItemsTest : public ::testing::Test {
protected:
    Testing::TemporaryDirectory config;
    SystemdLoginItems items{config.path(), "/opt/My Apps/plo%van$der"};
    const std::filesystem::path unit = config / "systemd/user/com.tessaloy.plovander.host.agent.service";
    const std::filesystem::path entry = config / "autostart/com.tessaloy.plovander.host.desktop";
};

TEST_F(SystemdLoginItemsTest, TheAgentIsAUserUnitEnabledForTheNextLogin) {
    EXPECT_EQ(items.status(Item::agent), Status::notRegistered);
    items.registerItem(Item::agent);
    EXPECT_EQ(items.status(Item::agent), Status::enabled);
    EXPECT_NE(contentsOf(unit).find("\nExecStart=\"/opt/My Apps/plo%%van$$der\"\n"), std::string::npos)
        << contentsOf(unit);
    EXPECT_TRUE(std::filesystem::is_symlink(config / "systemd/user/default.target.wants" / unit.filename()));
    // Registering again replaces the unit and its link.
    items.registerItem(Item::agent);
    EXPECT_EQ(items.status(Item::agent), Status::enabled);

    items.unregisterItem(Item::agent);
    EXPECT_EQ(items.status(Item::agent), Status::notRegistered);
    EXPECT_FALSE(std::filesystem::exists(unit));
    EXPECT_EQ(items.status(Item::mainApp), Status::notRegistered);
}

TEST_F(SystemdLoginItemsTest, TheLegacyItemIsAnAutostartEntryThatMayBeHidden) {
    items.registerItem(Item::mainApp);
    EXPECT_EQ(items.status(Item::mainApp), Status::enabled);
    EXPECT_NE(contentsOf(entry).find("\nExec=\"/opt/My Apps/plo%%van\\\\$der\"\n"), std::string::npos)
        << contentsOf(entry);
    std::ofstream(entry, std::ios::app) << "Hidden=true\n";
    EXPECT_EQ(items.status(Item::mainApp), Status::notRegistered);
    items.unregisterItem(Item::mainApp);
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_EQ(items.status(Item::agent), Status::notRegistered);
}

TEST_F(SystemdLoginItemsTest, AFolderThatCannotBeMadeSaysWhy) {
    std::ofstream(config / "systemd") << "a file where the folder belongs";
    EXPECT_THROW(items.registerItem(Item::agent), Platform::LoginItemsError);
    EXPECT_EQ(items.status(Item::agent), Status::notRegistered);
}

} // namespace
