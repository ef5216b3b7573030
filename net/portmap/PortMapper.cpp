#include "net/portmap/PortMapper.h"

#include "base/Hop.h"
#include "net/portmap/HomeRouter.h"

#include <algorithm>

namespace TessaloyNet {

using TessaloyBase::hop;

std::shared_ptr<PortMapper> PortMapper::create(std::uint16_t internalPort) {
    return create(internalPort, std::make_shared<HomeRouter>(internalPort));
}

std::shared_ptr<PortMapper> PortMapper::create(std::uint16_t internalPort, std::shared_ptr<PortMappingRouter> router,
                                               std::shared_ptr<TessaloyBase::QueueClock> clock) {
    if (!clock) clock = TessaloyBase::sharedSteadyQueueClock();
    return std::shared_ptr<PortMapper>(new PortMapper(internalPort, std::move(router), std::move(clock)));
}

PortMapper::PortMapper(std::uint16_t internalPort, std::shared_ptr<PortMappingRouter> router,
                       std::shared_ptr<TessaloyBase::QueueClock> clock)
    : internalPort_(internalPort), router_(std::move(router)), clock_(std::move(clock)) {}

// No handler holds the mapper: a lease still held, stop() or not, is let go here.
PortMapper::~PortMapper() {
    if (held_) TessaloyBase::runBlocking([router = router_, lease = *held_] { router->release(lease); });
}

void PortMapper::setOnChange(ChangeHandler handler) {
    queue_.async(hop(*this, [handler = std::move(handler)](PortMapper& mapper) { mapper.onChange_ = handler; }));
}

void PortMapper::start() {
    queue_.async(hop(*this, [](PortMapper& mapper) {
        if (mapper.running_) return;
        mapper.running_ = true;
        mapper.beginAttempt();
    }));
}

void PortMapper::refresh() {
    queue_.async(hop(*this, [](PortMapper& mapper) {
        if (!mapper.running_) return;
        mapper.renewal_.cancel();
        mapper.beginAttempt();
    }));
}

void PortMapper::stop() {
    queue_.async(hop(*this, [](PortMapper& mapper) {
        if (!mapper.running_) return;
        mapper.running_ = false;
        ++mapper.attemptID_;
        mapper.attemptWanted_ = false;
        mapper.renewal_.cancel();
        if (mapper.held_) {
            ++mapper.stopReleases_;
            mapper.release({*std::exchange(mapper.held_, std::nullopt)},
                           [](PortMapper& self) { self.stopReleaseFinished(); });
        }
        mapper.report(State::idle());
    }));
}

void PortMapper::beginAttempt() {
    queue_.assertCurrent();
    if (!running_) return;
    // Shown from the moment it is asked for, even while it waits its turn; a mapped state stays
    // shown while its lease is renewed.
    if (!std::holds_alternative<State::Mapped>(state_.value)) report(State::mapping());
    if (attempting_ || stopReleases_ > 0) {
        attemptWanted_ = true;
        return;
    }
    attempting_ = true;
    const int attempt = ++attemptID_;
    TessaloyBase::runBlocking([weak = weak_from_this(), router = router_, attempt] {
        PortAttemptResult result = router->attempt();
        if (const auto mapper = weak.lock()) {
            mapper->queue_.async(hop(*mapper, [attempt, result = std::move(result)](PortMapper& self) mutable {
                self.handleResult(attempt, std::move(result));
            }));
        }
    });
}

void PortMapper::handleResult(int attempt, PortAttemptResult result) {
    std::vector<Lease> leases;
    if (!running_ || attempt != attemptID_) {
        if (result.lease) leases.push_back(*result.lease);
    } else if (const auto* reason = std::get_if<Reason>(&result.outcome)) {
        if (result.lease) leases.push_back(*result.lease);
        if (held_) leases.push_back(*std::exchange(held_, std::nullopt));
        scheduleRenewal(retryDelay);
        report(State::unavailable(reason->message));
    } else {
        if (held_ && held_ != result.lease) leases.push_back(*held_);
        held_ = result.lease;
        // A router may grant less than asked: renew while the lease still has half its life.
        scheduleRenewal(std::min(longestRenewal, Duration(result.lifetime / 2.0)));
        report(State::mapped(std::get<Mapping>(result.outcome)));
    }
    release(std::move(leases), [](PortMapper& self) { self.finishAttempt(); });
}

void PortMapper::finishAttempt() {
    attempting_ = false;
    if (!std::exchange(attemptWanted_, false)) return;
    beginAttempt();
}

void PortMapper::stopReleaseFinished() {
    --stopReleases_;
    if (stopReleases_ > 0 || attempting_ || !std::exchange(attemptWanted_, false)) return;
    beginAttempt();
}

void PortMapper::scheduleRenewal(Duration delay) {
    renewal_ = clock_->after(queue_, delay, hop(*this, [](PortMapper& mapper) { mapper.beginAttempt(); }));
}

void PortMapper::report(State state) {
    if (state_ == state) return;
    state_ = std::move(state);
    if (onChange_) onChange_(state_);
}

void PortMapper::release(std::vector<Lease> leases, std::function<void(PortMapper&)> then) {
    TessaloyBase::runBlocking(
        [weak = weak_from_this(), router = router_, leases = std::move(leases), then = std::move(then)] {
            for (const Lease& lease : leases) router->release(lease);
            if (const auto mapper = weak.lock()) mapper->queue_.async(hop(*mapper, then));
        });
}

} // namespace TessaloyNet
