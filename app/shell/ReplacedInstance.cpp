#include "app/shell/ReplacedInstance.h"

#include "app/shell/Settings.h"
#include "platform/UserDefaults.h"

#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <thread>

namespace Plovander {

std::optional<pid_t> ReplacedInstance::waitForReplacedInstance(const std::vector<std::string>& launchArguments) {
    return waitForReplacedInstance(
        launchArguments, ::getpid(), [](pid_t pid) { return ::kill(pid, 0) == 0; },
        [](std::chrono::milliseconds interval) { std::this_thread::sleep_for(interval); },
        [] { return std::chrono::steady_clock::now(); });
}

std::optional<pid_t> ReplacedInstance::waitForReplacedInstance(
    const std::vector<std::string>& launchArguments, pid_t self, const Probe& isRunning, const Sleep& sleep,
    const std::function<std::chrono::steady_clock::time_point()>& now) {
    const auto arguments = Platform::UserDefaults::parseLaunchArguments(launchArguments);
    const auto found = arguments.find(Settings::afterUpdate);
    if (found == arguments.end()) return std::nullopt;
    // Anything but a number within the range of process ids names no process.
    const std::string& text = found->second;
    std::int64_t value = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || stop != text.data() + text.size()) return std::nullopt;
    if (value <= 0 || value > std::numeric_limits<pid_t>::max()) return std::nullopt;
    const auto pid = static_cast<pid_t>(value);
    if (pid == self) return std::nullopt;
    const auto deadline = now() + maximumWait;
    while (isRunning(pid) && now() < deadline) sleep(pollInterval);
    return pid;
}

} // namespace Plovander
