#include "app/runtime/Awaiters.h"
#include "app/runtime/TaskHandle.h"
#include "tests/support/ManualMainActor.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Plovander::CancellationToken;
using Plovander::TaskHandle;
using Testing::ManualMainActor;

class TaskTest : public ::testing::Test {
protected:
    ManualMainActor actor;
};

TEST_F(TaskTest, ALongSleepCompletesInVirtualTime) {
    std::optional<bool> slept;
    const auto start = actor.now();
    const auto task = TaskHandle::start(
        [&](CancellationToken token) -> QCoro::Task<> { slept = co_await Plovander::sleepFor(actor, 300s, token); });
    EXPECT_TRUE(task.isRunning());

    actor.advance(299.999s);
    EXPECT_FALSE(slept.has_value());
    actor.advance(1ms);
    EXPECT_EQ(slept, true);
    EXPECT_FALSE(task.isRunning());
    EXPECT_EQ(actor.now() - start, 300s);
}

TEST_F(TaskTest, CancellingEndsASleepAtOnceAndLeavesNoTimer) {
    std::optional<bool> slept;
    const auto task = TaskHandle::start(
        [&](CancellationToken token) -> QCoro::Task<> { slept = co_await Plovander::sleepFor(actor, 300s, token); });
    actor.advance(10s);
    // Within cancel() on the main actor, which may run nothing more (its owner goes at exit).
    task.cancel();

    EXPECT_EQ(slept, false);
    EXPECT_FALSE(task.isRunning());
    EXPECT_TRUE(task.isCancelled());
    EXPECT_EQ(actor.pendingTimers(), 0u);
}

TEST_F(TaskTest, ASleepOnACancelledTokenDoesNotWait) {
    CancellationToken token;
    token.cancel();
    std::optional<bool> slept;
    [&]() -> QCoro::Task<> { slept = co_await Plovander::sleepFor(actor, 1s, token); }();
    EXPECT_EQ(slept, false);
}

TEST_F(TaskTest, ADetachedTaskRunsToItsEnd) {
    std::vector<int> steps;
    auto detached = [&]() -> QCoro::Task<> {
        steps.push_back(1);
        co_await Plovander::sleepFor(actor, 5s);
        steps.push_back(2);
        co_await Plovander::sleepFor(actor, 5s);
        steps.push_back(3);
    };
    detached();
    EXPECT_EQ(steps, std::vector<int>{1});
    actor.advance(10s);
    EXPECT_EQ(steps, (std::vector<int>{1, 2, 3}));
}

TEST_F(TaskTest, ATaskThatThrowsEndsAndKeepsItsFailure) {
    const auto task = TaskHandle::start([&](CancellationToken token) -> QCoro::Task<> {
        co_await Plovander::sleepFor(actor, 1s, token);
        throw std::runtime_error("capture failed");
    });
    actor.advance(1s);
    EXPECT_FALSE(task.isRunning());
    EXPECT_EQ(task.failure(), "capture failed");
}

TEST_F(TaskTest, HopsToAQueueAndBackToTheMainActor) {
    TessaloyBase::SerialQueue queue("dev.tessaloy.test");
    bool ranOnQueue = false;
    bool backOnMain = false;
    const auto task = TaskHandle::start([&](CancellationToken) -> QCoro::Task<> {
        co_await Plovander::resumeOn(queue);
        ranOnQueue = queue.isCurrent();
        co_await Plovander::resumeOn(actor);
        backOnMain = actor.isCurrent();
    });
    ASSERT_TRUE(actor.runUntil([&] { return !task.isRunning(); }));
    EXPECT_TRUE(ranOnQueue);
    EXPECT_TRUE(backOnMain);
}

TEST_F(TaskTest, TimersFireInTheirOrderWhateverTheOrderOfScheduling) {
    std::vector<int> fired;
    const auto third = actor.after(3s, [&] { fired.push_back(3); });
    const auto first = actor.after(1s, [&] { fired.push_back(1); });
    const auto cancelled = actor.after(2s, [&] { fired.push_back(2); });
    cancelled.cancel();
    actor.advance(5s);
    EXPECT_EQ(fired, (std::vector<int>{1, 3}));
}

} // namespace
