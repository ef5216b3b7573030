#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace TessaloyBase {

// A call scheduled on a clock, as its owner holds it. Move-only: destroying or replacing it calls
// the call off, so a call never outlives the object that asked for it.
class [[nodiscard]] ScheduledCall {
public:
    // What the clock keeps of the call. `release`, set before the call is handed out, lets go of what
    // the clock holds for it once it is called off; it runs once, on any thread.
    struct State {
        std::atomic<bool> cancelled{false};
        std::function<void()> release;
    };

    ScheduledCall() = default;
    explicit ScheduledCall(std::shared_ptr<State> state) : state_(std::move(state)) {}
    ScheduledCall(ScheduledCall&&) noexcept = default;
    ScheduledCall& operator=(ScheduledCall&& other) noexcept {
        if (this != &other) {
            cancel();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    ~ScheduledCall() { cancel(); }

    // Safe from any thread; after it returns the call will not start.
    void cancel() const {
        if (state_ && !state_->cancelled.exchange(true) && state_->release) state_->release();
    }

private:
    std::shared_ptr<State> state_;
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
