#include "app/shell/ReplacedInstance.h"
#include "app/shell/SingleInstance.h"
#include "tests/support/OffscreenGuiApplication.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

namespace {

using namespace std::chrono_literals;
using Plovander::ReplacedInstance;
using Plovander::SingleInstance;

TEST(SingleInstance, TheSecondCopyLearnsTheFirstOnesProcessId) {
    Testing::TemporaryDirectory folder;
    const auto lockFile = folder / "tessaloy" / "plovander.lock";
    auto first = SingleInstance::acquire(lockFile);
    ASSERT_TRUE(std::holds_alternative<SingleInstance>(first));
    struct stat status {};
    ASSERT_EQ(::stat(lockFile.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    const auto second = SingleInstance::acquire(lockFile);
    ASSERT_TRUE(std::holds_alternative<pid_t>(second));
    EXPECT_EQ(std::get<pid_t>(second), ::getpid());

    first = pid_t{0}; // releases the lock
    EXPECT_TRUE(std::holds_alternative<SingleInstance>(SingleInstance::acquire(lockFile)));
}

// A replaced predecessor is no other copy; as it ends the new copy takes the lock from it, unless a
// copy started meanwhile, while the new one was busy, found the lock free: that one keeps it, and the
// new one learns who holds it.
TEST(SingleInstance, AReplacedPredecessorDoesNotCountAndPassesTheLockOnAsItEnds) {
    Testing::OffscreenGuiApplication::start();
    for (const bool anotherCopyStarts : {false, true}) {
        Testing::TemporaryDirectory folder;
        const auto lockFile = folder / "plovander.lock";
        auto taken = SingleInstance::acquire(lockFile);
        const pid_t predecessor = ::fork();
        if (predecessor == 0)
            for (;;) ::pause();
        taken = pid_t{0}; // the child's copy of the descriptor keeps the lock
        std::ofstream(lockFile) << predecessor;
        EXPECT_TRUE(std::holds_alternative<pid_t>(SingleInstance::acquire(lockFile, predecessor + 1)));
        std::optional<pid_t> takenBy;
        const auto successor = SingleInstance::acquire(lockFile, predecessor, [&](pid_t other) { takenBy = other; });
        EXPECT_TRUE(std::holds_alternative<SingleInstance>(successor));
        ::kill(predecessor, SIGKILL);
        ASSERT_EQ(::waitpid(predecessor, nullptr, 0), predecessor);
        if (anotherCopyStarts)
            taken.emplace<SingleInstance>(std::get<SingleInstance>(SingleInstance::acquire(lockFile)));
        QCoreApplication::processEvents();
        EXPECT_EQ(takenBy, anotherCopyStarts ? std::optional(::getpid()) : std::nullopt);
        EXPECT_EQ(std::get<pid_t>(SingleInstance::acquire(lockFile)), ::getpid());
    }
}

struct FakeClock {
    std::chrono::steady_clock::time_point now{};
    int probes = 0;
    int sleeps = 0;
};

std::optional<pid_t> waitWith(const std::vector<std::string>& arguments, FakeClock& clock, bool alive) {
    return ReplacedInstance::waitForReplacedInstance(
        arguments, 4242,
        [&](pid_t) {
            ++clock.probes;
            return alive;
        },
        [&](std::chrono::milliseconds interval) {
            ++clock.sleeps;
            clock.now += interval;
        },
        [&] { return clock.now; });
}

// Only the launch arguments name a predecessor; stored settings are not even asked.
TEST(ReplacedInstance, NoPredecessorMeansNoWait) {
    const std::vector<std::vector<std::string>> cases = {{},
                                                         {"-TessaloyAfterUpdate", "0"},
                                                         {"-TessaloyAfterUpdate", "-7"},
                                                         {"-TessaloyAfterUpdate", "4242"},
                                                         {"-TessaloyAfterUpdate", "4294967296"},
                                                         {"-TessaloyAfterUpdate", "twelve"},
                                                         {"-TessaloyAfterUpdate"},
                                                         {"--TessaloyAfterUpdate", "1234"},
                                                         {"-TessaloyTraceFile", "-TessaloyAfterUpdate", "1234"}};
    for (const auto& arguments : cases) {
        FakeClock clock;
        EXPECT_EQ(waitWith(arguments, clock, true), std::nullopt) << ::testing::PrintToString(arguments);
        EXPECT_EQ(clock.probes, 0) << ::testing::PrintToString(arguments);
    }
}

TEST(ReplacedInstance, AGoneProcessReturnsAfterOneProbe) {
    FakeClock clock;
    EXPECT_EQ(waitWith({"-TessaloyAfterUpdate", "1234"}, clock, false), 1234);
    EXPECT_EQ(clock.probes, 1);
    EXPECT_EQ(clock.sleeps, 0);
}

TEST(ReplacedInstance, ALivingProcessIsWaitedForFifteenSeconds) {
    FakeClock clock;
    EXPECT_EQ(waitWith({"-NSQuitAlwaysKeepsWindows", "NO", "-TessaloyAfterUpdate", "1234"}, clock, true), 1234);
    EXPECT_EQ(clock.sleeps, 150);
    EXPECT_EQ(clock.now.time_since_epoch(), 15s);
}

} // namespace
