#include "base/QueueClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

namespace {

using namespace std::chrono_literals;

// A minute-long call called off, by hand or by dropping its token, lets go of what its work holds
// at once, and its work never runs.
TEST(SteadyQueueClock, ACalledOffCallLetsGoOfItsWorkAtOnce) {
    TessaloyBase::SerialQueue queue("dev.tessaloy.test");
    for (const bool byHand : {true, false}) {
        auto released = std::make_shared<std::promise<void>>();
        const auto releasedNow = released->get_future();
        auto ran = std::make_shared<bool>(false);
        auto call = TessaloyBase::steadyQueueClock().after(
            queue, 60s, [ran, held = std::shared_ptr<void>(nullptr, [released](void*) { released->set_value(); })] {
                *ran = true;
            });
        if (byHand) {
            call.cancel();
        } else {
            call = {};
        }
        EXPECT_EQ(releasedNow.wait_for(10s), std::future_status::ready) << byHand;
        EXPECT_FALSE(queue.sync([&] { return *ran; }));
    }
}

} // namespace
