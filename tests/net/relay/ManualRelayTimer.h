#pragma once

#include "net/relay/RelayTimer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

// A relay timer whose time moves only when the test fires what was scheduled.
class ManualRelayTimer final : public TessaloyNet::RelayTimer {
public:
    TessaloyBase::ScheduledCall after(TessaloyBase::SerialQueue& queue, Duration delay,
                                      std::function<void()> work) override {
        auto cancelled = std::make_shared<std::atomic<bool>>(false);
        {
            const std::lock_guard lock(mutex_);
            calls_.push_back({delay.count(), &queue, std::move(work), cancelled});
        }
        changed_.notify_all();
        return TessaloyBase::ScheduledCall(cancelled);
    }

    // Waits for a live call of `seconds` and runs it on its queue; false when none came in time.
    bool fire(double seconds, std::chrono::milliseconds patience = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        Call* found = nullptr;
        changed_.wait_for(lock, patience, [&] { return (found = live(seconds)) != nullptr; });
        if (!found) return false;
        found->fired = true;
        found->queue->async(std::move(found->work));
        return true;
    }

    // Whether a live call of `seconds` is pending, or comes within the patience.
    bool pending(double seconds, std::chrono::milliseconds patience = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return live(seconds) != nullptr; });
    }

private:
    struct Call {
        double seconds;
        TessaloyBase::SerialQueue* queue;
        std::function<void()> work;
        std::shared_ptr<std::atomic<bool>> cancelled;
        bool fired = false;
    };

    Call* live(double seconds) {
        for (Call& call : calls_) {
            if (!call.fired && !call.cancelled->load() && call.seconds == seconds) return &call;
        }
        return nullptr;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
};
