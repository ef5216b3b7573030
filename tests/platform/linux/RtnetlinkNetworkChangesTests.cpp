#include "platform/linux/RtnetlinkNetworkChanges.h"

#include "tests/support/NetworkNamespace.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace {

// Counts the changes told, for the test to wait on.
struct Changes {
    bool waitFor(int count) {
        std::unique_lock guard(lock);
        return told.wait_for(guard, std::chrono::seconds(10), [&] { return seen >= count; });
    }
    void tell() {
        std::lock_guard guard(lock);
        ++seen;
        told.notify_all();
    }
    std::mutex lock;
    std::condition_variable told;
    int seen = 0;
};

// In a namespace of the test's own: a link, then an address and a route, each told as a change
// once its burst is over.
TEST(RtnetlinkNetworkChanges, TellsOfLinksAddressesAndRoutesInItsNamespace) {
    Testing::NetworkNamespace space;
    if (space.unavailable()) GTEST_SKIP() << "no network namespace: " << *space.unavailable();
    Changes changes;
    auto watch = space.inside(
        [&] { return std::make_unique<Platform::Linux::RtnetlinkNetworkChanges>([&] { changes.tell(); }); });

    space.addCable("cable0", "cable1");
    ASSERT_TRUE(changes.waitFor(1));
    space.ip({"-6", "address", "add", "3fff::5/64", "dev", "cable0", "nodad"});
    ASSERT_TRUE(changes.waitFor(2));
    space.ip({"-6", "route", "add", "3fff:1::/64", "dev", "cable0"});
    EXPECT_TRUE(changes.waitFor(3));
    watch.reset();
}

} // namespace
