#include "base/BlockingQueue.h"
#include "base/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <vector>

namespace {

using TessaloyBase::SerialQueue;

TEST(SerialQueue, RunsWorkOneAtATimeInOrder) {
    TessaloyBase::SerialQueue queue("dev.tessaloy.test");
    std::vector<int> order;
    std::atomic<int> running{0};
    bool overlapped = false;
    for (int i = 0; i < 200; ++i) {
        queue.async([&, i] {
            if (running.fetch_add(1) != 0) overlapped = true;
            order.push_back(i);
            running.fetch_sub(1);
        });
    }
    queue.sync([] {});
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_FALSE(overlapped);
}

TEST(SerialQueue, SyncReturnsTheResultAndKnowsItsQueue) {
    TessaloyBase::SerialQueue queue("dev.tessaloy.test");
    TessaloyBase::SerialQueue other("dev.tessaloy.other");
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_TRUE(queue.sync([&] { return queue.isCurrent() && !other.isCurrent(); }));
    EXPECT_EQ(queue.sync([] { return 7; }), 7);
}

// An I/O thread that waited for a queue could be the one thread left to run it.
TEST(SerialQueue, WaitingForAQueueOnAnIoThreadAborts) {
#ifdef NDEBUG
    GTEST_SKIP() << "only debug builds check where sync is called";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            TessaloyBase::SerialQueue queue("dev.tessaloy.test");
            TessaloyBase::SerialQueue other("dev.tessaloy.other");
            std::promise<void> waited;
            queue.async([&] {
                other.sync([] {});
                waited.set_value();
            });
            waited.get_future().wait();
        },
        "waited for the queue \"dev.tessaloy.other\" on an I/O thread");
}

TEST(SerialQueue, SyncPassesExceptionsBack) {
    TessaloyBase::SerialQueue queue("dev.tessaloy.test");
    EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("boom"); }), std::runtime_error);
}

// Quitting waits for blocking work, that of blocking queues too, until the last piece has run.
TEST(SerialQueue, WaitingForBlockingWorkEndsWhenTheLastPieceHasRun) {
    using namespace std::chrono_literals;
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    TessaloyBase::runBlocking([released] { released.wait(); });
    TessaloyBase::BlockingQueue("dev.tessaloy.test").async([released] { released.wait(); });
    EXPECT_FALSE(TessaloyBase::waitForBlockingWork(10ms));
    release.set_value();
    EXPECT_TRUE(TessaloyBase::waitForBlockingWork(60s));
}

} // namespace
