#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace Plovander {

// Asks a task to stop, or tells that its owner is gone (what objects that are not QObjects cancel as
// they go). Copies share one state; a task checks it after every await, and sleeps end early.
class CancellationToken {
public:
    using Registration = std::uint64_t;

    CancellationToken();

    // Safe from any thread; runs each registered callback once, outside the token's lock.
    void cancel() const;
    bool isCancelled() const;

    // Calls `callback` on cancellation (at once when already cancelled, returning 0).
    [[nodiscard]] Registration onCancel(std::function<void()> callback) const;
    void removeCallback(Registration registration) const;

    // `work` as a callback that does nothing once this token is cancelled.
    template <typename Work>
    auto guard(Work work) const {
        return [token = *this, work = std::move(work)](auto&&... arguments) {
            if (!token.isCancelled()) work(std::forward<decltype(arguments)>(arguments)...);
        };
    }

private:
    struct State {
        std::mutex lock;
        bool cancelled = false;
        Registration nextRegistration = 1;
        std::map<Registration, std::function<void()>> callbacks;
    };
    std::shared_ptr<State> state_;
};

} // namespace Plovander
