#include "app/services/LocalInterfaces.h"
#include "app/services/WakeSetting.h"

#include "tests/support/BlockingWork.h"
#include "tests/support/FakeInterfaces.h"
#include "tests/support/FakeMachineInfo.h"
#include "tests/support/ManualMainActor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

using Platform::Interfaces;
using Address = Interfaces::Address;

Interfaces::Interface link(std::string name, Interfaces::Kind kind, std::uint8_t lastByte,
                           std::vector<std::string> ipv4, bool running = true) {
    Interfaces::Interface entry;
    entry.name = std::move(name);
    entry.kind = kind;
    entry.isUp = true;
    entry.isRunning = running;
    entry.hardwareAddress = Interfaces::HardwareAddress{0, 0, 0, 0, 0, lastByte};
    for (auto& text : ipv4) entry.addresses.push_back({Address::Family::ipv4, std::move(text), {}});
    entry.addresses.push_back({Address::Family::ipv6, "fe80::1", {}});
    return entry;
}

TEST(LocalInterfaces, PhysicalLinksByTypeWhateverTheirNames) {
    Testing::FakeInterfaces interfaces;
    interfaces.setInterfaces({
        link("wlp2s0", Interfaces::Kind::wireless, 2, {"192.168.1.20"}),
        link("eth0", Interfaces::Kind::wired, 1, {"10.0.0.5", "169.254.3.4"}),
        link("enp3s0", Interfaces::Kind::wired, 3, {"169.254.1.1"}),
        link("en1", Interfaces::Kind::wired, 4, {"10.0.0.6"}, false),
        link("docker0", Interfaces::Kind::other, 5, {"172.17.0.1"}),
        link("lo", Interfaces::Kind::loopback, 0, {"127.0.0.1"}),
        link("eno1", Interfaces::Kind::wired, 0, {"10.0.0.7"}),
    });
    const auto targets = Plovander::localEthernetInterfaces(interfaces);
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[0].ipv4Address, "10.0.0.5");
    EXPECT_EQ(targets[0].hardwareAddress, (TessaloyCore::Bytes{0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(targets[1].ipv4Address, "192.168.1.20");
}

// Counts what other threads post, so a test can wait for work that answers nobody.
class CountingActor final : public TessaloyBase::MainActor {
public:
    explicit CountingActor(Testing::ManualMainActor& actor) : actor_(actor) {}
    void post(std::function<void()> work) override {
        ++posts;
        actor_.post(std::move(work));
    }
    TessaloyBase::ScheduledCall after(Duration delay, std::function<void()> work) override {
        return actor_.after(delay, std::move(work));
    }
    Date now() const override { return actor_.now(); }
    bool isCurrent() const override { return actor_.isCurrent(); }
    std::atomic<int> posts = 0;

private:
    Testing::ManualMainActor& actor_;
};

TEST(WakeSetting, AnswersOnceAndNeverBlocksItsCaller) {
    struct Gate : Platform::MachineInfo {
        std::string modelName() const override { return {}; }
        TessaloyCore::MacKind kind() const override { return TessaloyCore::MacKind::desktop; }
        std::string hostName() const override { return {}; }
        std::string systemDescription() const override { return {}; }
        std::optional<bool> wakeForNetworkAccess() const override {
            std::unique_lock guard(lock);
            opened.wait_for(guard, std::chrono::seconds(10), [this] { return open; });
            return true;
        }
        mutable std::mutex lock;
        mutable std::condition_variable opened;
        bool open = false;
    };
    Testing::ManualMainActor manual;
    CountingActor actor(manual);
    const Gate slow;
    std::vector<std::optional<bool>> slowAnswers;
    Plovander::askWakeForNetworkAccess(actor, slow, std::chrono::seconds(2),
                                       [&](std::optional<bool> value) { slowAnswers.push_back(value); });
    manual.advance(std::chrono::seconds(2));
    EXPECT_EQ(slowAnswers, (std::vector<std::optional<bool>>{std::nullopt})) << "the time-out answers";
    {
        std::lock_guard guard(slow.lock);
        const_cast<Gate&>(slow).open = true;
    }
    slow.opened.notify_all();

    Testing::FakeMachineInfo quick;
    quick.wakes = false;
    std::vector<std::optional<bool>> quickAnswers;
    Plovander::askWakeForNetworkAccess(actor, quick, std::chrono::seconds(2),
                                       [&](std::optional<bool> value) { quickAnswers.push_back(value); });
    ASSERT_TRUE(manual.runUntil([&] { return !quickAnswers.empty() && actor.posts == 2; }));
    manual.advance(std::chrono::seconds(3));
    manual.runUntilIdle();
    EXPECT_EQ(quickAnswers, (std::vector<std::optional<bool>>{false})) << "the time-out stays silent";
    EXPECT_EQ(slowAnswers.size(), 1u) << "a late answer is dropped";
    // The slow question may still be leaving its gate.
    Testing::finishBlockingWork();
}

} // namespace
