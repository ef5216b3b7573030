#include "net/portmap/HomeRouter.h"
#include "net/portmap/PortMapper.h"
#include "net/portmap/UdpExchange.h"
#include "tests/net/portmap/MapperStates.h"
#include "tests/support/ManualQueueClock.h"
#include "tests/support/MiniupnpdRouter.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace {

using namespace TessaloyNet;
using namespace std::chrono_literals;
using State = PortMapper::State;
using Testing::MiniupnpdRouter;

constexpr std::uint16_t port = 55801;
const std::string rule = "dport 55801 dnat ip to 192.168.77.2:55801";

// miniupnpd grants NAT-PMP whatever lifetime is asked; this makes its grants read as 600 seconds,
// as a stingier router's would, while every request still reaches it.
class ShortLeases final : public DatagramExchange {
public:
    std::optional<TessaloyCore::Bytes> send(const TessaloyCore::Bytes& request, const std::string& host,
                                            std::uint16_t to, int attempts) override {
        auto reply = real_.send(request, host, to, attempts);
        if (reply && reply->size() >= 16 && (*reply)[1] == 130) {
            (*reply)[12] = 0;
            (*reply)[13] = 0;
            (*reply)[14] = 600 >> 8;
            (*reply)[15] = 600 & 0xFF;
        }
        return reply;
    }
    std::optional<TessaloyCore::Bytes> search(const TessaloyCore::Bytes& request, const std::string& host,
                                              std::uint16_t to, int attempts) override {
        return real_.search(request, host, to, attempts);
    }

private:
    UdpExchange real_;
};

// Holds each deletion until the next mapping has been granted, or a second has passed: a release
// that races the next mapping then reaches the router last, as it may on a real network.
class LateDeletions final : public DatagramExchange {
public:
    std::optional<TessaloyCore::Bytes> send(const TessaloyCore::Bytes& request, const std::string& host,
                                            std::uint16_t to, int attempts) override {
        const bool mapRequest = request.size() == 12 && request[1] == 2;
        if (mapRequest && request[11] == 0 && request[10] == 0) {
            std::unique_lock guard(lock_);
            const int granted = granted_;
            mapped_.wait_for(guard, 1s, [&] { return granted_ > granted; });
        }
        auto reply = real_.send(request, host, to, attempts);
        if (mapRequest) {
            std::lock_guard guard(lock_);
            ++granted_;
            mapped_.notify_all();
        }
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

// Each test runs again in a process of its own, which moves behind the router.
class RouterPortMapping : public ::testing::Test {
protected:
    void SetUp() override {
        const auto rerun = MiniupnpdRouter::rerunAlone();
        switch (rerun.kind) {
            case MiniupnpdRouter::Rerun::Kind::thisIsTheRerun:
                return;
            case MiniupnpdRouter::Rerun::Kind::skipped:
                GTEST_SKIP() << rerun.output;
            case MiniupnpdRouter::Rerun::Kind::failed:
                FAIL() << rerun.output;
            case MiniupnpdRouter::Rerun::Kind::passed:
                delegated_ = true;
        }
    }

    // Made in the rerun only; skips when the machine cannot make it.
    std::unique_ptr<MiniupnpdRouter> makeRouter(MiniupnpdRouter::Options options = {}) {
        try {
            return std::make_unique<MiniupnpdRouter>(options);
        } catch (const MiniupnpdRouter::Unavailable& error) {
            skipReason_ = error.what();
            return nullptr;
        }
    }

    bool delegated_ = false;
    std::string skipReason_;
};

PortMapper::Mapping mapping(const char* method) { return {MiniupnpdRouter::externalAddress, port, method}; }

TEST_F(RouterPortMapping, MapsByNatPmpAndReleasesOnStop) {
    if (delegated_) return;
    auto router = makeRouter();
    if (!router) GTEST_SKIP() << skipReason_;
    auto mapper = PortMapper::create(port);
    Testing::MapperStates states(*mapper);
    mapper->start();
    EXPECT_EQ(states.first(2), (std::vector{State::mapping(), State::mapped(mapping("NAT-PMP"))}));
    EXPECT_NE(router->forwardingRules().find(rule), std::string::npos) << router->forwardingRules();

    mapper->stop();
    EXPECT_EQ(states.first(3).back(), State::idle());
    ASSERT_TRUE(router->waitForLog("mapping removed")) << router->logText();
    EXPECT_EQ(router->forwardingRules().find(rule), std::string::npos) << router->forwardingRules();
}

TEST_F(RouterPortMapping, MapsByUpnpWhenNatPmpIsOff) {
    if (delegated_) return;
    auto router = makeRouter({.natPmp = false});
    if (!router) GTEST_SKIP() << skipReason_;
    auto mapper = PortMapper::create(port);
    Testing::MapperStates states(*mapper);
    mapper->start();
    EXPECT_EQ(states.first(2), (std::vector{State::mapping(), State::mapped(mapping("UPnP"))})) << router->logText();
    EXPECT_NE(router->forwardingRules().find(rule), std::string::npos) << router->forwardingRules();
    EXPECT_NE(router->logText().find("Plovander"), std::string::npos);

    mapper->stop();
    ASSERT_TRUE(router->waitForLog("DeletePortMapping")) << router->logText();
}

TEST_F(RouterPortMapping, RenewsAShortLeaseInTime) {
    if (delegated_) return;
    auto router = makeRouter();
    if (!router) GTEST_SKIP() << skipReason_;
    auto clock = std::make_shared<Testing::ManualQueueClock>();
    auto links = HomeRouter::systemLinks();
    links.exchange = std::make_shared<ShortLeases>();
    auto mapper = PortMapper::create(port, std::make_shared<HomeRouter>(port, links), clock);
    Testing::MapperStates states(*mapper);
    mapper->start();
    ASSERT_EQ(states.first(2).back(), State::mapped(mapping("NAT-PMP")));
    const char* request = "NAT-PMP port mapping request : 55801";
    clock->advance(299s);
    EXPECT_EQ(router->logCount(request), 1u);
    clock->advance(1s);
    EXPECT_TRUE(router->waitForLog(request, 2)) << "the 600 s lease was not renewed within 300 s";
}

TEST_F(RouterPortMapping, StopThenStartLeavesTheMappingInPlace) {
    if (delegated_) return;
    auto router = makeRouter();
    if (!router) GTEST_SKIP() << skipReason_;
    auto links = HomeRouter::systemLinks();
    links.exchange = std::make_shared<LateDeletions>();
    auto mapper = PortMapper::create(port, std::make_shared<HomeRouter>(port, links));
    Testing::MapperStates states(*mapper);
    mapper->start();
    ASSERT_EQ(states.first(2).back(), State::mapped(mapping("NAT-PMP")));
    mapper->stop();
    mapper->start();
    EXPECT_EQ(states.first(5), (std::vector{State::mapping(), State::mapped(mapping("NAT-PMP")), State::idle(),
                                            State::mapping(), State::mapped(mapping("NAT-PMP"))}));
    EXPECT_NE(router->forwardingRules().find(rule), std::string::npos) << router->logText();
}

} // namespace
