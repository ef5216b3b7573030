#include "app/shell/ReplacedInstance.h"

#include "app/shell/Settings.h"
#include "platform/UserDefaults.h"

#include <signal.h>
#include <unistd.h>

#include <limits>
#include <thread>

namespace Plovander {

std::optional<pid_t> ReplacedInstance::waitForReplacedInstance(const Platform::UserDefaults& defaults) {
    return waitForReplacedInstance(
        defaults, ::getpid(), [](pid_t pid) { return ::kill(pid, 0) == 0; },
        [](std::chrono::milliseconds interval) { std::this_thread::sleep_for(interval); },
        [] { return std::chrono::steady_clock::now(); });
}

std::optional<pid_t> ReplacedInstance::waitForReplacedInstance(
    const Platform::UserDefaults& defaults, pid_t self, const Probe& isRunning, const Sleep& sleep,
    const std::function<std::chrono::steady_clock::time_point()>& now) {
    const std::int64_t value = defaults.integer(Settings::afterUpdate).value_or(0);
    // A number outside the range of process ids names no process.
    if (value <= 0 || value > std::numeric_limits<pid_t>::max()) return std::nullopt;
    const auto pid = static_cast<pid_t>(value);
    if (pid == self) return std::nullopt;
    const auto deadline = now() + maximumWait;
    while (isRunning(pid) && now() < deadline) sleep(pollInterval);
    return pid;
}

} // namespace Plovander
