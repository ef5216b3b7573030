#pragma once

#include "net/channel/DeviceIdentity.h"
#include "net/channel/LANHostListener.h"
#include "net/channel/PairedDeviceStore.h"
#include "tests/support/FakeServiceAdvertiser.h"
#include "tests/support/ManualQueueClock.h"
#include "tests/support/MemoryKeychain.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Testing {

// A listener of this Mac with a trust store in memory, recording its events. Its deadlines run in
// virtual time, none passing unless the test advances the clock, or on `realClock` when given.
class ListenerHarness {
public:
    using Listener = TessaloyNet::LANHostListener;
    using Event = Listener::Event;

    explicit ListenerHarness(Listener::Limits limits = {}, Listener::AdvertiserFactory advertisers = {},
                             std::optional<TessaloyCore::MacKind> macKind = std::nullopt,
                             std::shared_ptr<TessaloyBase::QueueClock> realClock = nullptr) {
        if (!advertisers) advertisers = FakeServiceAdvertiser::factory(advertised);
        listener = Listener::create(store, std::move(advertisers), limits, macKind, realClock ? realClock : clock);
    }
    ~ListenerHarness() {
        listener->stop();
        waitFor<Event::Stopped>();
    }

    // Starts and waits until it listens; returns the port (0 when it did not).
    std::uint16_t start(std::optional<TessaloyNet::PairingOffer> offer, bool advertises = true) {
        listener->start(std::move(offer), "Studio Mac", mac, 0, advertises, [this](Event event) {
            {
                std::lock_guard guard(lock);
                events.push_back(std::move(event));
            }
            changed.notify_all();
        });
        const auto advertising = waitFor<Event::Advertising>();
        return advertising ? advertising->port : 0;
    }

    template <typename Case>
    std::vector<Case> all() {
        std::lock_guard guard(lock);
        return allLocked<Case>();
    }
    // Waits until at least `count` events of that case arrived; returns the count-th.
    template <typename Case>
    std::optional<Case> waitFor(std::size_t count = 1, std::chrono::milliseconds patience = std::chrono::seconds(30)) {
        std::unique_lock guard(lock);
        changed.wait_for(guard, patience, [&] { return allLocked<Case>().size() >= count; });
        const auto found = allLocked<Case>();
        if (found.size() < count) return std::nullopt;
        return found[count - 1];
    }
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds patience = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::yield();
        }
        return true;
    }
    std::vector<std::string> traces() {
        std::lock_guard guard(lock);
        std::vector<std::string> lines;
        for (const auto& event : events) lines.push_back(event.traceDescription());
        return lines;
    }

    MemoryKeychain keychain;
    std::shared_ptr<TessaloyNet::PairedDeviceStore> store = std::make_shared<TessaloyNet::PairedDeviceStore>(keychain);
    TessaloyNet::DeviceIdentity mac{TessaloyNet::P256PrivateKey::generate()};
    std::shared_ptr<ManualQueueClock> clock = std::make_shared<ManualQueueClock>();
    std::shared_ptr<FakeServiceAdvertiser::Record> advertised = std::make_shared<FakeServiceAdvertiser::Record>();
    std::shared_ptr<Listener> listener;

    std::mutex lock;
    std::condition_variable changed;
    std::vector<Event> events;

private:
    template <typename Case>
    std::vector<Case> allLocked() {
        std::vector<Case> found;
        for (const auto& event : events) {
            if (const auto* value = std::get_if<Case>(&event.value)) found.push_back(*value);
        }
        return found;
    }
};

} // namespace Testing
