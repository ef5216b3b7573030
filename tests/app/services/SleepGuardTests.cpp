#include "app/services/SleepGuard.h"

#include "app/trace/TraceLog.h"
#include "tests/support/FakePowerAssertion.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

constexpr const char* waiting = "Plovander is waiting for a paired device";
constexpr const char* sharing = "Plovander is sharing this screen";

TEST(SleepGuard, KeepsTheFirstReasonUntilAnOffAndOnCycle) {
    Testing::FakePowerAssertion assertion;
    {
        Plovander::SleepGuard guard(assertion);
        guard.setActive(false, waiting);
        EXPECT_EQ(assertion.releases, 0);
        guard.setActive(true, waiting);
        guard.setActive(true, sharing);
        EXPECT_EQ(assertion.taken, (std::vector<std::string>{waiting}));
        guard.setActive(false, sharing);
        guard.setActive(true, sharing);
        EXPECT_EQ(assertion.taken, (std::vector<std::string>{waiting, sharing}));
        EXPECT_TRUE(guard.isActive());
    }
    EXPECT_EQ(assertion.releases, 2) << "the guard lets go when it goes";
}

TEST(SleepGuard, AFailureIsTracedWithItsCodeAndTheNextCallTriesAgain) {
    Testing::TemporaryDirectory folder;
    Plovander::TraceLog::configure({.enabled = true, .file = folder / "trace.log", .toStandardError = false});
    Testing::FakePowerAssertion assertion;
    Plovander::SleepGuard guard(assertion);
    assertion.refuseWith = -113;
    guard.setActive(true, sharing);
    EXPECT_FALSE(guard.isActive());
    assertion.refuseWith.reset();
    guard.setActive(true, sharing);
    EXPECT_TRUE(guard.isActive());
    Plovander::TraceLog::flush();
    std::ifstream in(folder / "trace.log");
    const std::string trace(std::istreambuf_iterator<char>(in), {});
    Plovander::TraceLog::configure({});
    EXPECT_NE(trace.find("could not prevent idle sleep: -113\n"), std::string::npos) << trace;
}

} // namespace
