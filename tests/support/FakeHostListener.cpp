#include "tests/support/FakeHostListener.h"

namespace Testing {

void FakeHostListener::start(std::optional<TessaloyNet::PairingOffer> offer, std::string,
                             const TessaloyNet::DeviceIdentity&, std::uint16_t port, bool, EventHandler events) {
    std::lock_guard guard(lock_);
    if (started_ || stopped_) return;
    started_ = true;
    offer_ = std::move(offer);
    port_ = port;
    events_ = std::move(events);
}

void FakeHostListener::stop() {
    EventHandler events;
    {
        std::lock_guard guard(lock_);
        if (stopped_) return;
        stopped_ = true;
        events = std::move(events_);
    }
    if (events) events(Event{Event::Stopped{}});
}

void FakeHostListener::stopAdvertising(std::chrono::duration<double> acceptanceWindow) {
    std::lock_guard guard(lock_);
    acceptanceWindow_ = acceptanceWindow;
}

std::uint16_t FakeHostListener::port() const noexcept {
    std::lock_guard guard(lock_);
    return port_;
}

void FakeHostListener::emit(Event::Value value) {
    EventHandler events;
    {
        std::lock_guard guard(lock_);
        if (stopped_) return;
        // `stopped` is the last event, also when the listener fails.
        stopped_ = std::holds_alternative<Event::Stopped>(value);
        events = events_;
    }
    if (events) events(Event{std::move(value)});
}

bool FakeHostListener::isStarted() const {
    std::lock_guard guard(lock_);
    return started_;
}

bool FakeHostListener::isStopped() const {
    std::lock_guard guard(lock_);
    return stopped_;
}

std::optional<TessaloyNet::PairingOffer> FakeHostListener::offer() const {
    std::lock_guard guard(lock_);
    return offer_;
}

std::optional<std::chrono::duration<double>> FakeHostListener::acceptanceWindow() const {
    std::lock_guard guard(lock_);
    return acceptanceWindow_;
}

FakeHostListeners::Factory FakeHostListeners::factory() {
    return [made = made_](
               std::shared_ptr<const TessaloyNet::PairedDeviceStore>) -> std::shared_ptr<TessaloyNet::HostListener> {
        auto listener = std::make_shared<FakeHostListener>();
        std::lock_guard guard(made->lock);
        made->listeners.push_back(listener);
        return listener;
    };
}

std::shared_ptr<FakeHostListener> FakeHostListeners::latest() const {
    std::lock_guard guard(made_->lock);
    return made_->listeners.empty() ? nullptr : made_->listeners.back();
}

std::size_t FakeHostListeners::count() const {
    std::lock_guard guard(made_->lock);
    return made_->listeners.size();
}

} // namespace Testing
