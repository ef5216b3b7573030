#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace TessaloyBase {

// A scheduled call that can still be called off. Copies share the one call; dropping every copy
// does not cancel it.
class ScheduledCall {
public:
    ScheduledCall() = default;
    explicit ScheduledCall(std::shared_ptr<std::atomic<bool>> cancelled) : cancelled_(std::move(cancelled)) {}

    // Safe from any thread; after it returns the call will not start.
    void cancel() const {
        if (cancelled_) cancelled_->store(true);
    }
    bool isCancelled() const { return cancelled_ && cancelled_->load(); }

private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

// The thread that owns every observable model. In the application this is the Qt main thread; tests
// use a manual actor whose time only moves when they say so.
class MainActor {
public:
    using Duration = std::chrono::duration<double>;
    using Date = std::chrono::system_clock::time_point;

    virtual ~MainActor() = default;

    // Runs `work` later on the main actor. Safe from any thread.
    virtual void post(std::function<void()> work) = 0;
    // Runs `work` on the main actor once `delay` has passed, unless cancelled first. Safe from any thread.
    [[nodiscard]] virtual ScheduledCall after(Duration delay, std::function<void()> work) = 0;
    // The current date as the main actor sees it.
    virtual Date now() const = 0;
    // Whether the caller runs on the main actor.
    virtual bool isCurrent() const = 0;
    // Aborts when the caller is not on the main actor: objects that live there check every entry point.
    void assertCurrent() const {
        if (isCurrent()) return;
        std::fputs("called off the main actor\n", stderr);
        std::abort();
    }
};

} // namespace TessaloyBase
