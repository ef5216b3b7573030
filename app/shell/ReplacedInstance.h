#pragma once

#include <sys/types.h>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Plovander {

// The copy that an update replaced hands its process id over as "-TessaloyAfterUpdate <pid>"; the
// new copy waits for it to end before it checks for other running copies. Only the launch arguments
// count: a value left among the stored settings must never make a start wait.
struct ReplacedInstance {
    static constexpr std::chrono::milliseconds pollInterval{100};
    static constexpr std::chrono::seconds maximumWait{15};

    // Whether a process with this id still exists.
    using Probe = std::function<bool(pid_t)>;
    using Sleep = std::function<void(std::chrono::milliseconds)>;

    // Blocks until the named process has gone or 15 s have passed on the monotonic clock; returns
    // its id, or nullopt when no predecessor was named (absent, not a process id, 0, negative or
    // this very process).
    static std::optional<pid_t> waitForReplacedInstance(const std::vector<std::string>& launchArguments);
    static std::optional<pid_t> waitForReplacedInstance(
        const std::vector<std::string>& launchArguments, pid_t self, const Probe& isRunning, const Sleep& sleep,
        const std::function<std::chrono::steady_clock::time_point()>& now);
};

} // namespace Plovander
