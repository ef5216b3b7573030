#include "net/portmap/PortMapper.h"
#include "tests/net/portmap/GatedRouter.h"
#include "tests/net/portmap/MapperStates.h"
#include "tests/support/ManualQueueClock.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace {

using namespace TessaloyNet;
using namespace std::chrono_literals;
using State = PortMapper::State;
using Log = std::vector<std::string>;

PortLease natPmpLease(std::uint16_t port) { return {PortLease::NatPmp{"192.168.1.1", 5351}, port}; }

PortMapping mapping(std::uint16_t port) { return {"203.0.113.7", port, "NAT-PMP"}; }

PortAttemptResult granted(std::uint16_t port, std::uint32_t lifetime = 3600) {
    return {mapping(port), natPmpLease(port), lifetime};
}

// A manual clock that tells when a timer is set, so time moves only once a renewal is scheduled.
class WatchedClock final : public TessaloyBase::QueueClock {
public:
    Instant now() const override { return manual_.now(); }
    TessaloyBase::ScheduledCall after(TessaloyBase::SerialQueue& queue, Duration delay,
                                      std::function<void()> work) override {
        auto call = manual_.after(queue, delay, std::move(work));
        std::lock_guard guard(lock_);
        ++scheduled_;
        changed_.notify_all();
        return call;
    }
    // Once `count` timers have been set in all, moves time forward by `delay`.
    void advanceAfter(std::size_t count, Duration delay) {
        {
            std::unique_lock guard(lock_);
            changed_.wait_for(guard, 10s, [&] { return scheduled_ >= count; });
        }
        manual_.advance(delay);
    }

private:
    Testing::ManualQueueClock manual_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::size_t scheduled_ = 0;
};

// A mapper on a gated router and a manual clock.
struct Harness {
    std::shared_ptr<WatchedClock> clock = std::make_shared<WatchedClock>();
    std::shared_ptr<Testing::GatedRouter> router = std::make_shared<Testing::GatedRouter>();
    std::shared_ptr<PortMapper> mapper = PortMapper::create(55801, router, clock);
    Testing::MapperStates states{*mapper};

    ~Harness() {
        mapper->stop();
        router->letReleasesGo();
    }
    std::vector<State> statesOf(std::size_t count, std::chrono::seconds patience = 10s) {
        return states.first(count, patience);
    }
};

TEST(PortMapper, RenewsWithinHalfTheGrantedLifetimeAndReleasesWhatIsReplaced) {
    Harness harness;
    harness.mapper->start();
    harness.mapper->start();
    harness.router->answer(granted(55801, 600));
    EXPECT_EQ(harness.statesOf(2), (std::vector{State::mapping(), State::mapped(mapping(55801))}));
    harness.clock->advanceAfter(1, 299s);
    EXPECT_EQ(harness.router->logOf(1), Log{"attempt"}) << "renewed early";
    harness.clock->advanceAfter(1, 1s);
    EXPECT_EQ(harness.router->logOf(2), (Log{"attempt", "attempt"})) << "the 600 s lease lapses unrenewed";

    // The same answer changes nothing; another port replaces the old lease.
    harness.router->answer(granted(55801, 3600));
    harness.clock->advanceAfter(2, 1800s);
    harness.router->answer(granted(40000));
    EXPECT_EQ(harness.router->logOf(5), (Log{"attempt", "attempt", "attempt", "release 55801", "released 55801"}));
    EXPECT_EQ(harness.statesOf(3).back(), State::mapped(mapping(40000)));

    // A failure releases both the lease it brought and the one held.
    harness.mapper->refresh();
    harness.router->answer(PortAttemptResult::failure(PortMappingReason::sharedAddress, natPmpLease(40001)));
    EXPECT_EQ(harness.router->logOf(10).back(), "released 40000");
    harness.mapper->refresh();
    harness.router->answer(PortAttemptResult::failure(PortMappingReason::sharedAddress));
    harness.statesOf(6);
    harness.mapper->stop();
    EXPECT_EQ(harness.statesOf(7),
              (std::vector{State::mapping(), State::mapped(mapping(55801)), State::mapped(mapping(40000)),
                           State::unavailable(PortMappingReason::sharedAddress), State::mapping(),
                           State::unavailable(PortMappingReason::sharedAddress), State::idle()}));
}

TEST(PortMapper, CollapsesRefreshesDuringAnAttemptIntoOne) {
    Harness harness;
    harness.mapper->start();
    harness.router->logOf(1);
    for (int i = 0; i < 3; ++i) harness.mapper->refresh();
    harness.router->answer(PortAttemptResult::failure(PortMappingReason::noRouter));
    EXPECT_EQ(harness.router->logOf(2), (Log{"attempt", "attempt"}));
    harness.router->answer(granted(55801));
    EXPECT_EQ(harness.statesOf(4).back(), State::mapped(mapping(55801)));
    harness.mapper->stop();
    EXPECT_EQ(harness.router->logOf(4), (Log{"attempt", "attempt", "release 55801", "released 55801"}));
}

TEST(PortMapper, StopDropsTheOutcomeOfTheAttemptUnderWay) {
    Harness harness;
    harness.mapper->start();
    harness.router->logOf(1);
    harness.mapper->stop();
    EXPECT_EQ(harness.statesOf(2), (std::vector{State::mapping(), State::idle()}));
    harness.router->answer(granted(55801));
    EXPECT_EQ(harness.router->logOf(3), (Log{"attempt", "release 55801", "released 55801"}));
    harness.mapper->stop();
    EXPECT_EQ(harness.statesOf(3, 0s).size(), 2u);
}

// A toggle: the old lease's deletion must reach the router before the new mapping is asked for, or
// the router ends up holding nothing while the state says mapped.
TEST(PortMapper, StartAfterStopWaitsForTheReleases) {
    Harness harness;
    harness.mapper->start();
    harness.router->answer(granted(55801));
    harness.statesOf(2);
    harness.router->holdReleases();
    harness.mapper->stop();
    harness.mapper->start();
    EXPECT_EQ(harness.statesOf(4),
              (std::vector{State::mapping(), State::mapped(mapping(55801)), State::idle(), State::mapping()}))
        << "a waiting start shows mapping";
    EXPECT_EQ(harness.router->logOf(2), (Log{"attempt", "release 55801"}));
    harness.router->letReleasesGo();
    harness.router->answer(granted(55801));
    EXPECT_EQ(harness.router->logOf(4), (Log{"attempt", "release 55801", "released 55801", "attempt"}));
    EXPECT_EQ(harness.statesOf(5).back(), State::mapped(mapping(55801)));
}

} // namespace
