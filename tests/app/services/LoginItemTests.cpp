#include "app/services/LoginItem.h"

#include "app/shell/Settings.h"
#include "app/trace/TraceLog.h"
#include "tests/support/FakeLoginItems.h"
#include "tests/support/MemoryUserDefaults.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

using Plovander::LoginItem;
using Plovander::Settings::loginAgentProgram;
using Plovander::Settings::startAtLoginWanted;
using Item = Platform::LoginItems::Item;
using Status = Platform::LoginItems::Status;
using Change = Testing::FakeLoginItems::Change;
using Case = LoginItem::State::Case;

class LoginItemTest : public ::testing::Test {
protected:
    LoginItemTest() { Plovander::TraceLog::configure({.enabled = true, .file = trace(), .toStandardError = false}); }
    ~LoginItemTest() override { Plovander::TraceLog::configure({}); }

    std::filesystem::path trace() const { return folder / "trace.log"; }
    std::string traceText() {
        Plovander::TraceLog::flush();
        std::ifstream in(trace());
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    Testing::TemporaryDirectory folder;
    Testing::FakeLoginItems items;
    Testing::MemoryUserDefaults defaults;
    LoginItem loginItem{items, defaults};
    const std::string program = items.runningProgram.string();
};

TEST_F(LoginItemTest, ReconciliationFollowsTheStoredWishOverTheFallback) {
    struct Wish {
        std::optional<std::string> stored;
        bool fallback;
        bool registers;
    };
    for (const auto& [stored, fallback, registers] : std::vector<Wish>{
             {std::nullopt, false, false}, {"false", true, false}, {"not a bool", true, true}, {"true", false, true}}) {
        SCOPED_TRACE(stored.value_or("absent"));
        Testing::MemoryUserDefaults wishes;
        if (stored) wishes.setText(startAtLoginWanted, *stored);
        Testing::FakeLoginItems system;
        system.statuses[Item::agent] = Status::notFound;
        LoginItem(system, wishes).reconcile(fallback);
        EXPECT_EQ(system.changes.empty(), !registers);
    }
}

// Wanted: an agent of this program stays; one of an unknown program is registered again; a
// missing one is registered without an unregister first.
TEST_F(LoginItemTest, AWantedAgentIsRegisteredOnlyWhenItIsNotThisPrograms) {
    struct Row {
        Status status;
        bool recorded;
        std::vector<Change> changes;
    };
    for (const auto& [status, recorded, changes] : std::vector<Row>{
             {Status::enabled, true, {}},
             {Status::enabled, false, {{false, Item::agent}, {true, Item::agent}}},
             {Status::notFound, false, {{true, Item::agent}}},
         }) {
        SCOPED_TRACE(testing::Message() << "recorded " << recorded << ", changes " << changes.size());
        Testing::MemoryUserDefaults wishes;
        wishes.setBoolean(startAtLoginWanted, true);
        if (recorded) wishes.setText(loginAgentProgram, program);
        Testing::FakeLoginItems system;
        system.statuses[Item::agent] = status;
        LoginItem(system, wishes).reconcile(false);
        EXPECT_EQ(system.changes, changes);
        EXPECT_EQ(wishes.text(loginAgentProgram), program);
    }
    EXPECT_NE(traceText().find("start at login re-registered for " + program + ": enabled\n"), std::string::npos);
}

TEST_F(LoginItemTest, ApprovalStillRecordsTheProgramAndErrorsAreUnavailable) {
    items.needsApproval = true;
    EXPECT_EQ(loginItem.setEnabled(true), (LoginItem::State{Case::needsApproval}));
    EXPECT_EQ(defaults.text(loginAgentProgram), program);

    defaults.remove(loginAgentProgram);
    defaults.setBoolean(startAtLoginWanted, true);
    items.failWith = "The user's systemd could not be reached";
    EXPECT_EQ(loginItem.setEnabled(false),
              (LoginItem::State{Case::unavailable, "The user's systemd could not be reached"}));
    loginItem.reconcile(false);
    EXPECT_EQ(defaults.text(loginAgentProgram), std::nullopt);
    EXPECT_NE(traceText().find(": unavailable(\"The user's systemd could not be reached\")\n"), std::string::npos);
}

TEST_F(LoginItemTest, AnEntryOfTheApplicationMovesToTheAgent) {
    loginItem.migrateFromMainApp();
    EXPECT_TRUE(items.changes.empty()) << "nothing to move";
    items.statuses[Item::mainApp] = Status::enabled;
    loginItem.migrateFromMainApp();
    EXPECT_EQ(items.changes, (std::vector<Change>{{false, Item::mainApp}, {true, Item::agent}}));
    EXPECT_EQ(loginItem.agentState(), (LoginItem::State{Case::enabled}));
    EXPECT_NE(traceText().find("moved start-at-login to the keep-alive agent: enabled\n"), std::string::npos);
}

} // namespace
