#include "net/portmap/HomeRouter.h"
#include "net/portmap/PortMapper.h"
#include "net/portmap/UdpExchange.h"
#include "tests/net/portmap/MapperStates.h"
#include "tests/support/ManualQueueClock.h"
#include "tests/support/MiniupnpdRouter.h"
#include "tests/support/NamespacedTestRun.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace {

using namespace TessaloyNet;
using namespace std::chrono_literals;
using State = PortMapper::State;
using Testing::MiniupnpdRouter;
using Testing::NamespacedTestRun;

constexpr std::uint16_t port = 55801;
const std::string rule = "dport 55801 dnat ip to 192.168.77.2:55801";
const State natPmpMapped = State::mapped({MiniupnpdRouter::externalAddress, port, "NAT-PMP"});

// Real UDP with two twists. miniupnpd grants NAT-PMP whatever lifetime is asked, so `shortGrants`
// makes its grants read as 600 seconds, as a stingier router's would. `lateDeletions` holds each
// deletion until the next mapping is granted, or a second has passed, so a release that races the
// next mapping reaches the router last, as it may on a real network.
class TwistedExchange final : public DatagramExchange {
public:
    bool shortGrants = false;
    bool lateDeletions = false;

    std::optional<TessaloyCore::Bytes> send(const TessaloyCore::Bytes& request, const std::string& host,
                                            std::uint16_t to, int attempts) override {
        const bool mapRequest = request.size() == 12 && request[1] == 2;
        if (lateDeletions && mapRequest && request[10] == 0 && request[11] == 0) {
            std::unique_lock guard(lock_);
            mapped_.wait_for(guard, 1s, [&, before = granted_] { return granted_ > before; });
        }
        auto reply = real_.send(request, host, to, attempts);
        if (shortGrants && reply && reply->size() >= 16 && (*reply)[1] == 130) {
            (*reply)[14] = 600 >> 8;
            (*reply)[15] = 600 & 0xFF;
        }
        std::lock_guard guard(lock_);
        granted_ += mapRequest ? 1 : 0;
        mapped_.notify_all();
        return reply;
    }
    std::optional<TessaloyCore::Bytes> search(const TessaloyCore::Bytes& request, const std::string& host,
                                              std::uint16_t to, int attempts) override {
        return real_.search(request, host, to, attempts);
    }

private:
    UdpExchange real_;
    std::mutex lock_;
    std::condition_variable mapped_;
    int granted_ = 0;
};

// Each test runs again alone in a process of its own, which moves behind the router.
class RouterPortMapping : public ::testing::Test {
protected:
    void SetUp() override {
        if (!NamespacedTestRun::isInside()) {
            const auto outcome = NamespacedTestRun::runCurrentTest();
            if (outcome.kind == NamespacedTestRun::Outcome::Kind::skipped) GTEST_SKIP() << outcome.output;
            if (outcome.kind == NamespacedTestRun::Outcome::Kind::failed) FAIL() << outcome.output;
            return;
        }
        inRerun_ = true;
        try {
            router_ = std::make_unique<MiniupnpdRouter>(MiniupnpdRouter::Options{.natPmp = natPmp_});
        } catch (const MiniupnpdRouter::Unavailable& error) {
            GTEST_SKIP() << error.what();
        }
        exchange_ = std::make_shared<TwistedExchange>();
    }

    std::shared_ptr<PortMapper> mapper(std::shared_ptr<TessaloyBase::QueueClock> clock = nullptr) {
        auto links = HomeRouter::systemLinks();
        links.exchange = exchange_;
        return PortMapper::create(port, std::make_shared<HomeRouter>(port, links), std::move(clock));
    }
    bool holdsRule() const { return router_->forwardingRules().find(rule) != std::string::npos; }

    bool natPmp_ = true;
    bool inRerun_ = false;
    std::shared_ptr<TwistedExchange> exchange_; // made behind the router: its sockets live there
    std::unique_ptr<MiniupnpdRouter> router_;
};

TEST_F(RouterPortMapping, MapsByNatPmpAndReleasesOnStop) {
    if (!inRerun_) return;
    auto mapper = this->mapper();
    Testing::MapperStates states(*mapper);
    mapper->start();
    EXPECT_EQ(states.first(2), (std::vector{State::mapping(), natPmpMapped}));
    EXPECT_TRUE(holdsRule()) << router_->forwardingRules();
    mapper->stop();
    ASSERT_TRUE(router_->waitForLog("mapping removed")) << router_->logText();
    EXPECT_FALSE(holdsRule()) << router_->forwardingRules();
}

class RouterWithoutNatPmp : public RouterPortMapping {
protected:
    void SetUp() override {
        natPmp_ = false;
        RouterPortMapping::SetUp();
    }
};

TEST_F(RouterWithoutNatPmp, MapsByUpnp) {
    if (!inRerun_) return;
    auto mapper = this->mapper();
    Testing::MapperStates states(*mapper);
    mapper->start();
    EXPECT_EQ(states.first(2).back(), State::mapped({MiniupnpdRouter::externalAddress, port, "UPnP"}))
        << router_->logText();
    EXPECT_TRUE(holdsRule()) << router_->forwardingRules();
    EXPECT_TRUE(router_->waitForLog("for: Plovander"));
    mapper->stop();
    ASSERT_TRUE(router_->waitForLog("DeletePortMapping")) << router_->logText();
}

TEST_F(RouterPortMapping, RenewsAShortLeaseInTime) {
    if (!inRerun_) return;
    exchange_->shortGrants = true;
    auto clock = std::make_shared<Testing::ManualQueueClock>();
    auto mapper = this->mapper(clock);
    Testing::MapperStates states(*mapper);
    mapper->start();
    ASSERT_EQ(states.first(2).back(), natPmpMapped);
    const char* request = "NAT-PMP port mapping request : 55801";
    clock->advance(299s);
    EXPECT_EQ(router_->logCount(request), 1u);
    clock->advance(1s);
    EXPECT_TRUE(router_->waitForLog(request, 2)) << "the 600 s lease was not renewed within 300 s";
}

TEST_F(RouterPortMapping, StopThenStartLeavesTheMappingInPlace) {
    if (!inRerun_) return;
    exchange_->lateDeletions = true;
    auto mapper = this->mapper();
    Testing::MapperStates states(*mapper);
    mapper->start();
    ASSERT_EQ(states.first(2).back(), natPmpMapped);
    mapper->stop();
    mapper->start();
    EXPECT_EQ(states.first(5).back(), natPmpMapped);
    EXPECT_TRUE(holdsRule()) << router_->logText();
}

} // namespace
