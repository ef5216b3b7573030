#include "app/services/SleepGuard.h"

#include "app/trace/TraceLog.h"
#include "tests/support/FakePowerAssertion.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

constexpr const char* waiting = "Plovander is waiting for a paired device";
constexpr const char* sharing = "Plovander is sharing this screen";
using Reasons = std::vector<std::string>;

// The assertion is taken on the pool for blocking work; what it brings runs on the manual actor
// only when the test lets the actor run.
struct SleepGuardTest : testing::Test {
    // Runs the actor until the fake has taken `taken` and let go of `releases` assertions, and the
    // guard holds one or not.
    bool settles(const Reasons& taken, int releases, bool held) {
        return actor.runUntil([&] {
            return assertion->taken() == taken && assertion->releases() == releases && guard->isActive() == held;
        });
    }

    Testing::ManualMainActor actor;
    std::shared_ptr<Testing::FakePowerAssertion> assertion = std::make_shared<Testing::FakePowerAssertion>();
    std::unique_ptr<Plovander::SleepGuard> guard = std::make_unique<Plovander::SleepGuard>(actor, assertion);
};

// Switches made before the first assertion is back (nullptr: off), and where they end.
struct WhileTaking {
    std::vector<const char*> switches;
    Reasons taken;
    int releases;
    bool held;
};

TEST_F(SleepGuardTest, SwitchesWhileAnAssertionIsOnItsWayDecideWhatIsKept) {
    const std::vector<WhileTaking> cases{
        {{waiting}, {waiting}, 0, true},
        // The first reason stays until an off and on cycle.
        {{waiting, sharing}, {waiting}, 0, true},
        {{waiting, nullptr}, {waiting}, 1, false},
        // The one taken for the first switch on goes; the second gets its own.
        {{waiting, nullptr, sharing}, {waiting, sharing}, 1, true},
    };
    for (const WhileTaking& given : cases) {
        assertion = std::make_shared<Testing::FakePowerAssertion>();
        guard = std::make_unique<Plovander::SleepGuard>(actor, assertion);
        for (const char* reason : given.switches) guard->setActive(reason != nullptr, reason ? reason : "");
        EXPECT_FALSE(guard->isActive()) << "held only once the answer is back on the main actor";
        EXPECT_TRUE(settles(given.taken, given.releases, given.held)) << given.switches.size();
        guard.reset();
        EXPECT_EQ(assertion->releases(), static_cast<int>(given.taken.size())) << "the guard lets go when it goes";
    }
}

TEST_F(SleepGuardTest, AnAssertionThatComesAfterTheGuardWentIsLetGo) {
    guard->setActive(true, sharing);
    guard.reset();
    EXPECT_TRUE(actor.runUntil([&] { return assertion->releases() == 1; }));
}

TEST_F(SleepGuardTest, AFailureIsTracedWithItsCodeAndTheNextCallTriesAgain) {
    Testing::TemporaryDirectory folder;
    Plovander::TraceLog::configure({.enabled = true, .file = folder / "trace.log", .toStandardError = false});
    assertion->refuseWith(-113);
    guard->setActive(true, sharing);
    ASSERT_TRUE(actor.runUntil([&] {
        Plovander::TraceLog::flush();
        std::ifstream in(folder / "trace.log");
        return std::string(std::istreambuf_iterator<char>(in), {}).find("could not prevent idle sleep: -113\n") !=
               std::string::npos;
    }));
    EXPECT_FALSE(guard->isActive());
    assertion->refuseWith(std::nullopt);
    guard->setActive(true, sharing);
    EXPECT_TRUE(settles({sharing}, 0, true));
    Plovander::TraceLog::configure({});
}

} // namespace
