#pragma once

#include "base/QueueClock.h"
#include "base/SerialQueue.h"
#include "net/portmap/PortAttemptResult.h"
#include "net/portmap/PortMapperState.h"
#include "net/portmap/PortMappingRouter.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace TessaloyNet {

// Asks the user's router to forward the listener's TCP port from the internet, keeps the lease alive
// and releases it when no longer wanted. One attempt at a time, its releases included; a success is
// renewed after half the granted lifetime (at most 30 minutes), a failure retried after 15 minutes.
//
// Every field lives on the mapper's queue, where onChange is called too. Attempts and releases run
// on the blocking pool. Nothing holds the mapper but its owners: dropping it lets go of its lease.
class PortMapper : public std::enable_shared_from_this<PortMapper> {
public:
    using Mapping = PortMapping;
    using Lease = PortLease;
    using Reason = PortMappingReason;
    using State = PortMapperState;
    using ChangeHandler = std::function<void(const State&)>;
    using Duration = TessaloyBase::QueueClock::Duration;

    static constexpr Duration longestRenewal{1800.0};
    static constexpr Duration retryDelay{900.0};

    // Asks the system's router (the default gateway) for `internalPort`.
    static std::shared_ptr<PortMapper> create(std::uint16_t internalPort);
    // The mapper keeps the clock for as long as it lives: a late result may still schedule on it.
    static std::shared_ptr<PortMapper> create(std::uint16_t internalPort, std::shared_ptr<PortMappingRouter> router,
                                              std::shared_ptr<TessaloyBase::QueueClock> clock = nullptr);
    ~PortMapper();

    std::uint16_t internalPort() const noexcept { return internalPort_; }

    // Each may be called from any thread and returns at once; the work runs on the queue.
    void setOnChange(ChangeHandler handler);
    void start();
    // Maps again now (the network may have changed), unless stopped.
    void refresh();
    // Reports idle and releases what the router holds; a start after it waits for those releases.
    void stop();

private:
    PortMapper(std::uint16_t internalPort, std::shared_ptr<PortMappingRouter> router,
               std::shared_ptr<TessaloyBase::QueueClock> clock);

    void beginAttempt();
    void handleResult(int attempt, PortAttemptResult result);
    void finishAttempt();
    void stopReleaseFinished();
    void scheduleRenewal(Duration delay);
    void report(State state);
    // Releases `leases` in order on the blocking pool, then runs `then` on the queue.
    void release(std::vector<Lease> leases, std::function<void(PortMapper&)> then);

    const std::uint16_t internalPort_;
    const std::shared_ptr<PortMappingRouter> router_;
    const std::shared_ptr<TessaloyBase::QueueClock> clock_;
    TessaloyBase::SerialQueue queue_{"dev.tessaloy.port-mapping"};

    ChangeHandler onChange_;
    State state_ = State::idle();
    TessaloyBase::ScheduledCall renewal_;
    bool running_ = false;
    std::optional<Lease> held_;
    int attemptID_ = 0;
    bool attempting_ = false;
    bool attemptWanted_ = false;
    // Releases that stop() started and that have not returned: a new attempt must not overtake them,
    // or the router would delete the mapping that attempt has just made.
    int stopReleases_ = 0;
};

} // namespace TessaloyNet
