#include "net/portmap/PortMapper.h"
#include "tests/net/portmap/GatedRouter.h"
#include "tests/net/portmap/MapperStates.h"
#include "tests/support/ManualQueueClock.h"

#include <gtest/gtest.h>

namespace {

using namespace TessaloyNet;
using namespace std::chrono_literals;
using State = PortMapper::State;
using Log = std::vector<std::string>;

PortMapping mapping(std::uint16_t port) { return {"203.0.113.7", port, "NAT-PMP"}; }
PortLease lease(std::uint16_t port) { return {PortLease::NatPmp{"192.168.1.1", 5351}, port}; }
PortAttemptResult granted(std::uint16_t port, std::uint32_t lifetime = 3600) {
    return {mapping(port), lease(port), lifetime};
}

// A mapper on a gated router and a manual clock.
struct Harness {
    std::shared_ptr<Testing::ManualQueueClock> clock = std::make_shared<Testing::ManualQueueClock>();
    std::shared_ptr<Testing::GatedRouter> router = std::make_shared<Testing::GatedRouter>();
    std::shared_ptr<PortMapper> mapper = PortMapper::create(55801, router, clock);
    Testing::MapperStates states{*mapper};

    ~Harness() {
        mapper->stop();
        router->letReleasesGo();
    }
};

TEST(PortMapper, RenewsWithinHalfTheGrantedLifetimeAndReleasesWhatIsReplaced) {
    Harness harness;
    harness.mapper->start();
    harness.mapper->start();
    harness.router->answer(granted(55801, 600));
    EXPECT_EQ(harness.states.first(2), (std::vector{State::mapping(), State::mapped(mapping(55801))}));
    harness.clock->advance(299s);
    EXPECT_EQ(harness.router->logOf(1), Log{"attempt"}) << "renewed early";
    harness.clock->advance(1s);
    harness.router->answer(granted(40000));
    EXPECT_EQ(harness.router->logOf(4), (Log{"attempt", "attempt", "release 55801", "released 55801"}));
    EXPECT_EQ(harness.states.first(3).back(), State::mapped(mapping(40000)));

    // A failure releases the lease it brought and then the one held.
    harness.mapper->refresh();
    harness.router->answer(PortAttemptResult::failure(PortMappingReason::sharedAddress, lease(40001)));
    EXPECT_EQ(harness.router->logOf(9), (Log{"attempt", "attempt", "release 55801", "released 55801", "attempt",
                                             "release 40001", "released 40001", "release 40000", "released 40000"}));
    EXPECT_EQ(harness.states.first(4).back(), State::unavailable(PortMappingReason::sharedAddress));
}

TEST(PortMapper, StopDropsTheOutcomeOfTheAttemptUnderWay) {
    Harness harness;
    harness.mapper->start();
    harness.router->logOf(1);
    harness.mapper->stop();
    EXPECT_EQ(harness.states.first(2), (std::vector{State::mapping(), State::idle()}));
    harness.router->answer(granted(55801));
    EXPECT_EQ(harness.router->logOf(3), (Log{"attempt", "release 55801", "released 55801"}));
    EXPECT_EQ(harness.states.first(3, 0s).size(), 2u);
}

// Nothing else holds the mapper: an owner that lets go of it, stopped or not, lets go of the lease.
TEST(PortMapper, DroppingTheMapperReleasesItsLease) {
    auto router = std::make_shared<Testing::GatedRouter>();
    auto mapper = PortMapper::create(55801, router, std::make_shared<Testing::ManualQueueClock>());
    Testing::MapperStates states{*mapper};
    mapper->start();
    router->answer(granted(55801));
    EXPECT_EQ(states.first(2).back(), State::mapped(mapping(55801)));
    mapper.reset();
    EXPECT_EQ(router->logOf(3), (Log{"attempt", "release 55801", "released 55801"}));
}

// A toggle: the old lease's deletion must reach the router before the new mapping is asked for, or
// the router ends up holding nothing while the state says mapped.
TEST(PortMapper, StartAfterStopWaitsForTheReleasesAndShowsMapping) {
    Harness harness;
    harness.mapper->start();
    harness.router->answer(granted(55801));
    harness.states.first(2);
    harness.router->holdReleases();
    harness.mapper->stop();
    harness.mapper->start();
    EXPECT_EQ(harness.states.first(4).back(), State::mapping());
    EXPECT_EQ(harness.router->logOf(2), (Log{"attempt", "release 55801"}));
    harness.router->letReleasesGo();
    harness.router->answer(granted(55801));
    EXPECT_EQ(harness.router->logOf(4), (Log{"attempt", "release 55801", "released 55801", "attempt"}));
    EXPECT_EQ(harness.states.first(5).back(), State::mapped(mapping(55801)));
}

} // namespace
