#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace Plovander {

// Asks a task to stop. Copies share one state; a task checks it after every await, and awaits that
// can be cut short (sleeps) end early when it is cancelled.
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
