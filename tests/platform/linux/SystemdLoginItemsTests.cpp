#include "platform/linux/SystemdLoginItems.h"

#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

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

// The user's systemd at its boundary: a `systemctl` on PATH that answers only `--user` calls and
// keeps the enabled state in a file, as systemd 252 words it.
constexpr const char* systemctlStandIn = R"(#!/bin/sh
here=$(dirname "$0")
[ "$1" = --user ] || exit 1
[ -e "$here/no-bus" ] && { echo "Failed to connect to bus: No such file or directory"; exit 1; }
case "$2" in
  daemon-reload) exit 0 ;;
  enable) touch "$here/enabled"; exit 0 ;;
  disable) rm -f "$here/enabled"; exit 0 ;;
  is-enabled)
    [ -e "$here/enabled" ] && { echo enabled; exit 0; }
    [ -e "$XDG_CONFIG_HOME/systemd/user/$3" ] && { echo disabled; exit 1; }
    echo "Failed to get unit file state for $3: No such file or directory"; exit 1 ;;
esac
exit 1
)";

class SystemdLoginItemsTest : public ::testing::Test {
protected:
    SystemdLoginItemsTest() {
        std::ofstream(tools / "systemctl") << systemctlStandIn;
        ::chmod((tools / "systemctl").c_str(), 0755);
        environment.set("PATH", tools.path().string() + ":/usr/bin:/bin");
        environment.set("XDG_CONFIG_HOME", config.path().string());
    }

    Testing::TemporaryDirectory config;
    Testing::TemporaryDirectory tools;
    Testing::ScopedEnvironment environment;
    SystemdLoginItems items{config.path(), "/opt/My Apps/plo%van$der"};
    const std::filesystem::path unit = config / "systemd/user/com.tessaloy.plovander.host.agent.service";
    const std::filesystem::path entry = config / "autostart/com.tessaloy.plovander.host.desktop";
};

TEST_F(SystemdLoginItemsTest, TheAgentIsAUserUnitEnabledThroughTheUsersSystemd) {
    EXPECT_EQ(items.status(Item::agent), Status::notFound);
    items.registerItem(Item::agent);
    EXPECT_EQ(items.status(Item::agent), Status::enabled);
    const std::string text = contentsOf(unit);
    EXPECT_NE(text.find("\nExecStart=\"/opt/My Apps/plo%%van$$der\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nRestart=on-failure\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nWantedBy=graphical-session.target\n"), std::string::npos) << text;

    items.unregisterItem(Item::agent);
    EXPECT_EQ(items.status(Item::agent), Status::notFound);
    EXPECT_FALSE(std::filesystem::exists(unit));
}

TEST_F(SystemdLoginItemsTest, WithoutAUserSystemdEveryAgentOperationSaysSo) {
    std::ofstream(tools / "no-bus") << "";
    EXPECT_THROW(items.status(Item::agent), Platform::LoginItemsError);
    EXPECT_THROW(items.registerItem(Item::agent), Platform::LoginItemsError);
    Testing::TemporaryDirectory empty;
    Testing::ScopedEnvironment nowhere;
    nowhere.set("PATH", empty.path().string());
    try {
        items.status(Item::agent);
        ADD_FAILURE() << "no systemctl, yet a status";
    } catch (const Platform::LoginItemsError& error) {
        EXPECT_STREQ(error.what(), "This computer has no systemd to start programs at login.");
    }
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
}

TEST_F(SystemdLoginItemsTest, AFolderThatCannotBeMadeSaysWhy) {
    std::ofstream(config / "systemd") << "a file where the folder belongs";
    EXPECT_THROW(items.registerItem(Item::agent), Platform::LoginItemsError);
    EXPECT_EQ(items.status(Item::agent), Status::notFound);
}

} // namespace
