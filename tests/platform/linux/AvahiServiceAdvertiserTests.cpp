#include "platform/linux/AvahiServiceAdvertiser.h"

#include "base/SerialQueue.h"
#include "tests/support/AvahiDaemon.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/SilentBus.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <iostream>
#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Platform::Linux::AvahiServiceAdvertiser;
using TessaloyBase::ServiceAdvertiser;
using Testing::AvahiDaemon;
using Clock = std::chrono::steady_clock;
using Found = std::vector<AvahiDaemon::Service>;

constexpr auto patience = 20s;

const TessaloyBase::ServiceAdvertiser::TxtRecord pairingTxt{
    {"v", "1"}, {"s", "q83vEjRWeJA"}, {"k", "00112233445566778899aabbccddeeff"}, {"m", "pro"}};

TessaloyBase::ServiceAdvertiser::Service service(std::string name,
                                                 TessaloyBase::ServiceAdvertiser::TxtRecord txt = pairingTxt) {
    return {"_tessaloy._tcp", std::move(name), 55801, std::move(txt)};
}

// Every state reported, in order; checks that each report arrives on the advertiser's queue.
class StateLog {
public:
    explicit StateLog(TessaloyBase::SerialQueue& queue) : queue_(queue) {}

    TessaloyBase::ServiceAdvertiser::StateHandler handler() {
        return [this](const TessaloyBase::ServiceAdvertiser::State& state) {
            {
                std::lock_guard guard(lock_);
                offQueue_ = offQueue_ || !queue_.isCurrent();
                states_.push_back(state);
            }
            changed_.notify_all();
        };
    }

    // Waits for a state of kind T after the first `skip` states; returns it.
    template <typename T>
    std::optional<T> waitFor(std::size_t skip = 0) {
        std::unique_lock guard(lock_);
        std::optional<T> found;
        changed_.wait_for(guard, patience, [&] {
            for (std::size_t i = skip; i < states_.size(); ++i) {
                if (const auto* state = std::get_if<T>(&states_[i])) {
                    found = *state;
                    return true;
                }
            }
            return false;
        });
        return found;
    }

    std::vector<TessaloyBase::ServiceAdvertiser::State> states() {
        std::lock_guard guard(lock_);
        return states_;
    }
    bool ranOffQueue() {
        std::lock_guard guard(lock_);
        return offQueue_;
    }

private:
    TessaloyBase::SerialQueue& queue_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<TessaloyBase::ServiceAdvertiser::State> states_;
    bool offQueue_ = false;
};

const AvahiDaemon::Service* named(const Found& found, const std::string& name) {
    const auto it = std::find_if(found.begin(), found.end(), [&](const auto& service) { return service.name == name; });
    return it == found.end() ? nullptr : &*it;
}

class AvahiServiceAdvertiserTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!daemon.available()) GTEST_SKIP() << daemon.unavailableReason();
        std::cout << "private D-Bus ready in " << daemon.busStartupTime().count() * 1000 << " ms, avahi-daemon in "
                  << daemon.daemonStartupTime().count() * 1000 << " ms\n";
        advertiser = Platform::Linux::AvahiServiceAdvertiser::create(queue, log.handler());
    }

    AvahiDaemon daemon;
    TessaloyBase::SerialQueue queue{"dev.tessaloy.listener"};
    StateLog log{queue};
    std::unique_ptr<TessaloyBase::ServiceAdvertiser> advertiser;
};

TEST_F(AvahiServiceAdvertiserTest, PublishesNamePortAndTxtRecordForBrowsers) {
    advertiser->advertise(service("Plovander Test Mac"));
    const auto registered = log.waitFor<TessaloyBase::ServiceAdvertiser::Registered>();
    ASSERT_TRUE(registered) << daemon.logText();
    EXPECT_EQ(registered->name, "Plovander Test Mac");

    const Found found = daemon.browseUntil([](const Found& f) { return named(f, "Plovander Test Mac") != nullptr; });
    const auto* browsed = named(found, "Plovander Test Mac");
    ASSERT_NE(browsed, nullptr) << daemon.logText();
    EXPECT_EQ(browsed->type, "_tessaloy._tcp");
    EXPECT_EQ(browsed->port, 55801);
    EXPECT_EQ(browsed->address, "127.0.0.1");
    EXPECT_EQ(browsed->txtValue("v"), "1");
    EXPECT_EQ(browsed->txtValue("s"), "q83vEjRWeJA");
    EXPECT_EQ(browsed->txtValue("k"), "00112233445566778899aabbccddeeff");
    EXPECT_EQ(browsed->txtValue("m"), "pro");
    EXPECT_EQ(browsed->txt.size(), 4u);
    EXPECT_FALSE(log.ranOffQueue());
}

TEST_F(AvahiServiceAdvertiserTest, BrowsersSeeAnUpdatedTxtRecord) {
    advertiser->advertise(service("Plovander Test Mac"));
    ASSERT_TRUE(log.waitFor<TessaloyBase::ServiceAdvertiser::Registered>()) << daemon.logText();
    ASSERT_TRUE(named(daemon.browseUntil([](const Found& f) { return named(f, "Plovander Test Mac") != nullptr; }),
                      "Plovander Test Mac"));

    // Trusted mode: no salt.
    advertiser->updateTxtRecord({{"v", "1"}, {"k", "ffeeddccbbaa99887766554433221100"}, {"m", "mini"}});
    const Found found = daemon.browseUntil([](const Found& f) {
        const auto* browsed = named(f, "Plovander Test Mac");
        return browsed && browsed->txtValue("m") == "mini";
    });
    const auto* browsed = named(found, "Plovander Test Mac");
    ASSERT_NE(browsed, nullptr);
    EXPECT_EQ(browsed->txtValue("m"), "mini");
    EXPECT_EQ(browsed->txtValue("k"), "ffeeddccbbaa99887766554433221100");
    EXPECT_EQ(browsed->txtValue("s"), std::nullopt);
    EXPECT_EQ(browsed->port, 55801);
}

TEST_F(AvahiServiceAdvertiserTest, WithdrawRemovesTheServiceAndAdvertisingBringsItBack) {
    advertiser->advertise(service("Plovander Test Mac"));
    ASSERT_TRUE(log.waitFor<TessaloyBase::ServiceAdvertiser::Registered>()) << daemon.logText();
    ASSERT_TRUE(named(daemon.browseUntil([](const Found& f) { return named(f, "Plovander Test Mac") != nullptr; }),
                      "Plovander Test Mac"));

    advertiser->withdraw();
    EXPECT_TRUE(daemon.browseUntil([](const Found& f) { return f.empty(); }).empty());
    advertiser->updateTxtRecord({{"v", "1"}});
    EXPECT_TRUE(daemon.browse().empty());

    const auto reports = log.states().size();
    auto renewed = service("Plovander Test Mac");
    renewed.port = 55802;
    advertiser->advertise(renewed);
    ASSERT_TRUE(log.waitFor<TessaloyBase::ServiceAdvertiser::Registered>(reports));
    const Found found = daemon.browseUntil([](const Found& f) { return named(f, "Plovander Test Mac") != nullptr; });
    ASSERT_NE(named(found, "Plovander Test Mac"), nullptr);
    EXPECT_EQ(named(found, "Plovander Test Mac")->port, 55802);
}

TEST_F(AvahiServiceAdvertiserTest, DestroyingTheAdvertiserWithdrawsTheService) {
    advertiser->advertise(service("Plovander Test Mac"));
    ASSERT_TRUE(log.waitFor<TessaloyBase::ServiceAdvertiser::Registered>()) << daemon.logText();
    ASSERT_TRUE(named(daemon.browseUntil([](const Found& f) { return named(f, "Plovander Test Mac") != nullptr; }),
                      "Plovander Test Mac"));
    const auto reports = log.states().size();
    advertiser.reset();
    EXPECT_TRUE(daemon.browseUntil([](const Found& f) { return f.empty(); }).empty());
    queue.sync([] {});
    EXPECT_EQ(log.states().size(), reports);
}

TEST_F(AvahiServiceAdvertiserTest, ANameInUseGivesWayToAnAlternativeName) {
    advertiser->advertise(service("Plovander Test Mac"));
    ASSERT_TRUE(log.waitFor<TessaloyBase::ServiceAdvertiser::Registered>()) << daemon.logText();

    // Another listener on another port (the very same records would simply be shared).
    StateLog otherLog(queue);
    const auto other = Platform::Linux::AvahiServiceAdvertiser::create(queue, otherLog.handler());
    auto second = service("Plovander Test Mac");
    second.port = 55802;
    other->advertise(second);
    const auto registered = otherLog.waitFor<TessaloyBase::ServiceAdvertiser::Registered>();
    ASSERT_TRUE(registered);
    EXPECT_EQ(registered->name, "Plovander Test Mac #2");

    const Found found = daemon.browseUntil([](const Found& f) { return f.size() == 2; });
    ASSERT_NE(named(found, "Plovander Test Mac"), nullptr);
    ASSERT_NE(named(found, "Plovander Test Mac #2"), nullptr);
    EXPECT_EQ(named(found, "Plovander Test Mac")->port, 55801);
    EXPECT_EQ(named(found, "Plovander Test Mac #2")->port, 55802);
}

TEST_F(AvahiServiceAdvertiserTest, ALongNameIsCutToOneLabelOnACharacterBoundary) {
    std::string name = "ab";
    for (int i = 0; i < 31; ++i) name += "\xC3\xA9"; // é: 64 bytes in all
    const std::string expected = name.substr(0, 62);
    advertiser->advertise(service(name));
    const auto registered = log.waitFor<TessaloyBase::ServiceAdvertiser::Registered>();
    ASSERT_TRUE(registered) << daemon.logText();
    EXPECT_EQ(registered->name, expected);
    const Found found = daemon.browseUntil([&](const Found& f) { return named(f, expected) != nullptr; });
    EXPECT_NE(named(found, expected), nullptr);
}

TEST_F(AvahiServiceAdvertiserTest, TxtEntriesUpToTheLimitArePublishedAndLongerOnesRefused) {
    const std::string longest(AvahiServiceAdvertiser::maximumTxtEntryBytes - 2, 'x'); // "k=" + value
    advertiser->advertise(service("Plovander Test Mac", {{"v", "1"}, {"k", longest}}));
    ASSERT_TRUE(log.waitFor<TessaloyBase::ServiceAdvertiser::Registered>()) << daemon.logText();
    const Found found = daemon.browseUntil([](const Found& f) { return named(f, "Plovander Test Mac") != nullptr; });
    ASSERT_NE(named(found, "Plovander Test Mac"), nullptr);
    EXPECT_EQ(named(found, "Plovander Test Mac")->txtValue("k"), longest);

    const auto reports = log.states().size();
    advertiser->updateTxtRecord({{"v", "1"}, {"k", longest + "x"}});
    const auto failed = log.waitFor<TessaloyBase::ServiceAdvertiser::Failed>(reports);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->reason, "Could not advertise the service: TXT record entry \"k\" is longer than 255 bytes");

    advertiser->advertise(service("Plovander Other Mac", {{"v=1", "1"}}));
    const auto refused = log.waitFor<TessaloyBase::ServiceAdvertiser::Failed>(reports + 1);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->reason, "Could not advertise the service: Invalid TXT record key \"v=1\"");
    EXPECT_EQ(named(daemon.browse(), "Plovander Other Mac"), nullptr);
}

TEST_F(AvahiServiceAdvertiserTest, ADaemonThatGoesAwayIsReportedAndTheServiceReturnsWithIt) {
    advertiser->advertise(service("Plovander Test Mac"));
    ASSERT_TRUE(log.waitFor<TessaloyBase::ServiceAdvertiser::Registered>()) << daemon.logText();

    daemon.stopDaemon();
    const auto notAvailable = log.waitFor<TessaloyBase::ServiceAdvertiser::NotAvailable>();
    ASSERT_TRUE(notAvailable);
    EXPECT_EQ(notAvailable->reason.rfind("Service discovery is not available: ", 0), 0u) << notAvailable->reason;

    const auto reports = log.states().size();
    daemon.startDaemon();
    ASSERT_TRUE(log.waitFor<TessaloyBase::ServiceAdvertiser::Registered>(reports)) << daemon.logText();
    const Found found = daemon.browseUntil([](const Found& f) { return named(f, "Plovander Test Mac") != nullptr; });
    EXPECT_NE(named(found, "Plovander Test Mac"), nullptr);
}

TEST(AvahiServiceAdvertiserWithoutDaemon, SaysSoOnceWithoutWaitingAndPublishesWhenTheDaemonAppears) {
    AvahiDaemon daemon(AvahiDaemon::Start::busOnly);
    if (!daemon.available()) GTEST_SKIP() << daemon.unavailableReason();
    TessaloyBase::SerialQueue queue("dev.tessaloy.listener");
    StateLog log(queue);

    const auto started = Clock::now();
    const auto advertiser = Platform::Linux::AvahiServiceAdvertiser::create(queue, log.handler());
    advertiser->advertise(service("Plovander Test Mac"));
    advertiser->updateTxtRecord({{"v", "1"}, {"m", "imac"}});
    advertiser->advertise(service("Plovander Test Mac"));
    EXPECT_LT(Clock::now() - started, 500ms);

    const auto notAvailable = log.waitFor<TessaloyBase::ServiceAdvertiser::NotAvailable>();
    ASSERT_TRUE(notAvailable);
    EXPECT_EQ(notAvailable->reason, "Service discovery is not available: Daemon not running");
    EXPECT_LT(Clock::now() - started, 5s);

    daemon.startDaemon();
    const auto registered = log.waitFor<TessaloyBase::ServiceAdvertiser::Registered>();
    ASSERT_TRUE(registered) << daemon.logText();
    const auto states = log.states();
    ASSERT_EQ(states.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<TessaloyBase::ServiceAdvertiser::NotAvailable>(states[0]));
    EXPECT_TRUE(std::holds_alternative<TessaloyBase::ServiceAdvertiser::Registered>(states[1]));
    const Found found = daemon.browseUntil([](const Found& f) { return named(f, "Plovander Test Mac") != nullptr; });
    ASSERT_NE(named(found, "Plovander Test Mac"), nullptr);
    EXPECT_EQ(named(found, "Plovander Test Mac")->txtValue("v"), "1");
}

TEST(AvahiServiceAdvertiserWithoutDaemon, WithoutASystemBusSaysSoAndNeverBlocks) {
    Testing::TemporaryDirectory folder;
    Testing::ScopedEnvironment environment;
    environment.set("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (folder / "no-bus").string());
    TessaloyBase::SerialQueue queue("dev.tessaloy.listener");
    StateLog log(queue);

    const auto started = Clock::now();
    auto advertiser = Platform::Linux::AvahiServiceAdvertiser::create(queue, log.handler());
    advertiser->advertise(service("Plovander Test Mac"));
    EXPECT_LT(Clock::now() - started, 500ms);
    const auto notAvailable = log.waitFor<TessaloyBase::ServiceAdvertiser::NotAvailable>();
    ASSERT_TRUE(notAvailable);
    EXPECT_EQ(notAvailable->reason.rfind("Service discovery is not available: ", 0), 0u) << notAvailable->reason;
    advertiser->withdraw();
    advertiser->advertise(service("Plovander Test Mac"));
    advertiser.reset();
    EXPECT_LT(Clock::now() - started, 5s);
    queue.sync([] {});
    EXPECT_FALSE(log.ranOffQueue());
}

TEST(AvahiServiceAdvertiserWithoutDaemon, ABusThatNeverAnswersIsNotAvailableAndHoldsNobody) {
    Testing::SilentBus bus;
    Testing::ScopedEnvironment environment;
    environment.set("DBUS_SYSTEM_BUS_ADDRESS", bus.address());
    TessaloyBase::SerialQueue queue("dev.tessaloy.listener");
    StateLog log(queue);
    // Gone while it waits for the bus's answer: at once, and without a word more.
    auto advertiser = std::make_unique<AvahiServiceAdvertiser>(queue, log.handler(), 2s);
    advertiser->advertise(service("Plovander Test Mac"));
    ASSERT_TRUE(bus.awaitCaller(patience));
    const auto started = Clock::now();
    advertiser.reset();
    EXPECT_LT(Clock::now() - started, 1s);
    queue.sync([] {});
    EXPECT_TRUE(log.states().empty());

    advertiser = std::make_unique<AvahiServiceAdvertiser>(queue, log.handler(), 200ms);
    advertiser->advertise(service("Plovander Test Mac"));
    const auto notAvailable = log.waitFor<TessaloyBase::ServiceAdvertiser::NotAvailable>();
    ASSERT_TRUE(notAvailable);
    EXPECT_EQ(notAvailable->reason, "Service discovery is not available: the system bus does not answer.");
}

TEST(AvahiServiceAdvertiserNames, AreCutToSixtyThreeBytesWithoutSplittingACharacter) {
    EXPECT_EQ(AvahiServiceAdvertiser::fittedName("Mac"), "Mac");
    const std::string exact(63, 'a');
    EXPECT_EQ(AvahiServiceAdvertiser::fittedName(exact), exact);
    EXPECT_EQ(AvahiServiceAdvertiser::fittedName(exact + "b"), exact);
    // A three-byte character straddling the limit goes whole.
    const std::string euro = "\xE2\x82\xAC";
    EXPECT_EQ(AvahiServiceAdvertiser::fittedName(std::string(61, 'a') + euro), std::string(61, 'a'));
    EXPECT_EQ(AvahiServiceAdvertiser::fittedName(std::string(60, 'a') + euro + "b"), std::string(60, 'a') + euro);
}

TEST(AvahiServiceAdvertiserTxt, AcceptsPrintableKeysAndEntriesUpTo255Bytes) {
    EXPECT_EQ(AvahiServiceAdvertiser::txtProblem(pairingTxt), std::nullopt);
    EXPECT_EQ(AvahiServiceAdvertiser::txtProblem({{"k", std::string(253, 'x')}}), std::nullopt);
    EXPECT_EQ(AvahiServiceAdvertiser::txtProblem({{"k", std::string(254, 'x')}}),
              "TXT record entry \"k\" is longer than 255 bytes");
    EXPECT_EQ(AvahiServiceAdvertiser::txtProblem({{"", "1"}}), "Invalid TXT record key \"\"");
    EXPECT_EQ(AvahiServiceAdvertiser::txtProblem({{"a=b", "1"}}), "Invalid TXT record key \"a=b\"");
    EXPECT_EQ(AvahiServiceAdvertiser::txtProblem({{"a\tb", "1"}}), "Invalid TXT record key \"a\tb\"");
    EXPECT_EQ(AvahiServiceAdvertiser::txtProblem({{"s", ""}}), std::nullopt);
}

TEST(AvahiBrowseOutput, YieldsResolvedServicesWithTheirNamesUnescaped) {
    const auto found = AvahiDaemon::parseBrowseOutput(
        "+;lo;IPv4;T\\195\\169st\\059odd\\034name;_tessaloy._tcp;local\n"
        "=;lo;IPv4;T\\195\\169st\\059odd\\034name;_tessaloy._tcp;local;vm.local;127.0.0.1;5555;\"x=a;b\" \"v=1\" "
        "\"flag\"\n"
        "=;lo;IPv4;Dot\\.and\\\\slash;_tessaloy._tcp;local;vm.local;127.0.0.1;1;\n");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].name, "T\xC3\xA9st;odd\"name");
    EXPECT_EQ(found[0].port, 5555);
    EXPECT_EQ(found[0].host, "vm.local");
    EXPECT_EQ(found[0].txtValue("x"), "a;b");
    EXPECT_EQ(found[0].txtValue("v"), "1");
    EXPECT_EQ(found[0].txtValue("flag"), "");
    EXPECT_EQ(found[0].txtValue("m"), std::nullopt);
    EXPECT_EQ(found[1].name, "Dot.and\\slash");
    EXPECT_TRUE(found[1].txt.empty());
}

} // namespace
