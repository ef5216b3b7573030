#pragma once

#include "net/channel/HostListener.h"
#include "net/channel/PairedDeviceStore.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Testing {

// A listener with no socket: it records how it was started and stopped, and the test reports what
// a real listener would see (`emit`). Like the real one, it reports `stopped` when stopped and
// nothing after that. Safe from any thread.
class FakeHostListener final : public TessaloyNet::HostListener {
public:
    void start(std::optional<TessaloyNet::PairingOffer> offer, std::string displayName,
               const TessaloyNet::DeviceIdentity& hostKey, std::uint16_t port, bool advertisesService,
               EventHandler events) override;
    void stop() override;
    void stopAdvertising(std::chrono::duration<double> acceptanceWindow) override;
    std::uint16_t port() const noexcept override;

    // Reports `value` as the listener's next event; nothing once stopped.
    void emit(Event::Value value);

    bool isStarted() const;
    bool isStopped() const;
    // Pairing mode: the offer it was started with.
    std::optional<TessaloyNet::PairingOffer> offer() const;
    std::optional<std::chrono::duration<double>> acceptanceWindow() const;

private:
    mutable std::mutex lock_;
    EventHandler events_;
    bool started_ = false;
    bool stopped_ = false;
    std::uint16_t port_ = 0;
    std::optional<TessaloyNet::PairingOffer> offer_;
    std::optional<std::chrono::duration<double>> acceptanceWindow_;
};

// Makes fake listeners for a session and keeps each one, newest last.
class FakeHostListeners {
public:
    using Factory = std::function<std::shared_ptr<TessaloyNet::HostListener>(
        std::shared_ptr<const TessaloyNet::PairedDeviceStore>)>;

    Factory factory();
    // The listener made last; nullptr before the first.
    std::shared_ptr<FakeHostListener> latest() const;
    std::size_t count() const;

private:
    struct Made {
        std::mutex lock;
        std::vector<std::shared_ptr<FakeHostListener>> listeners;
    };
    std::shared_ptr<Made> made_ = std::make_shared<Made>();
};

} // namespace Testing
