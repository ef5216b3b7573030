#include "base/BlockingQueue.h"

#include "base/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

using TessaloyBase::BlockingQueue;

TEST(BlockingQueue, RunsWorkInOrderOneAtATimeOnTheBlockingPoolOnly) {
    const BlockingQueue queue("dev.tessaloy.test.blocking");
    // A copy posts to the same queue.
    const BlockingQueue copy = queue;
    std::vector<int> order;
    std::atomic<int> running{0};
    bool overlapped = false;
    bool offThePool = false;
    for (int i = 0; i < 200; ++i) {
        (i % 2 ? copy : queue).async([&, i] {
            if (running.fetch_add(1) != 0) overlapped = true;
            if (!queue.isCurrent() || TessaloyBase::sharedIoContext().get_executor().running_in_this_thread() ||
                !TessaloyBase::sharedBlockingPool().get_executor().running_in_this_thread()) {
                offThePool = true;
            }
            order.push_back(i);
            running.fetch_sub(1);
        });
    }
    queue.drain();
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(offThePool);
    EXPECT_FALSE(queue.isCurrent());
}

} // namespace
