#pragma once

#include "net/portmap/PortMappingRouter.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace Testing {

// A router the test answers by hand: each attempt waits for `answer`, and while releases are held
// each waits for `letReleasesGo`. What happens is logged as "attempt", "release <port>" and
// "released <port>".
class GatedRouter final : public TessaloyNet::PortMappingRouter {
public:
    static constexpr std::chrono::seconds patience{10};

    TessaloyNet::PortAttemptResult attempt() override {
        std::unique_lock guard(lock_);
        log_.emplace_back("attempt");
        changed_.notify_all();
        if (!changed_.wait_for(guard, patience, [&] { return !answers_.empty(); })) {
            return TessaloyNet::PortAttemptResult::failure("never answered");
        }
        auto result = std::move(answers_.front());
        answers_.pop_front();
        return result;
    }

    void release(const TessaloyNet::PortLease& lease) override {
        std::unique_lock guard(lock_);
        const std::string port = std::to_string(lease.externalPort);
        log_.push_back("release " + port);
        changed_.notify_all();
        changed_.wait_for(guard, patience, [&] { return !holdReleases_; });
        log_.push_back("released " + port);
        changed_.notify_all();
    }

    void answer(TessaloyNet::PortAttemptResult result) {
        std::lock_guard guard(lock_);
        answers_.push_back(std::move(result));
        changed_.notify_all();
    }
    void holdReleases() {
        std::lock_guard guard(lock_);
        holdReleases_ = true;
    }
    void letReleasesGo() {
        std::lock_guard guard(lock_);
        holdReleases_ = false;
        changed_.notify_all();
    }
    // Waits until the log holds `count` entries; the log as it then stands.
    std::vector<std::string> logOf(std::size_t count) {
        std::unique_lock guard(lock_);
        changed_.wait_for(guard, patience, [&] { return log_.size() >= count; });
        return log_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<TessaloyNet::PortAttemptResult> answers_;
    std::vector<std::string> log_;
    bool holdReleases_ = false;
};

} // namespace Testing
