#include "platform/linux/SystemBus.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace Platform::Linux {
namespace {

using Clock = std::chrono::steady_clock;

// A stop is noticed within one slice.
constexpr std::chrono::milliseconds waitSlice{50};

} // namespace

int openSystemBus(SystemBus& bus) {
    sd_bus* opened = nullptr;
    const int code = sd_bus_open_system(&opened);
    bus.reset(opened);
    return code < 0 ? code : 0;
}

int processUntil(sd_bus* bus, const std::function<bool()>& done, Clock::time_point deadline, std::stop_token stop) {
    while (!done()) {
        const int processed = sd_bus_process(bus, nullptr);
        if (processed < 0) return processed;
        if (processed > 0) continue;
        if (stop.stop_requested()) return -ECANCELED;
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return -ETIMEDOUT;
        const auto slice =
            std::chrono::duration_cast<std::chrono::microseconds>(std::min<Clock::duration>(left, waitSlice));
        if (const int waited = sd_bus_wait(bus, static_cast<std::uint64_t>(slice.count()));
            waited < 0 && waited != -EINTR) {
            return waited;
        }
    }
    return 0;
}

bool systemBusIsSilent(std::chrono::milliseconds patience) {
    SystemBus bus;
    if (openSystemBus(bus) < 0) return false;
    return processUntil(
               bus.get(), [&] { return sd_bus_is_ready(bus.get()) > 0; }, Clock::now() + patience) == -ETIMEDOUT;
}

} // namespace Platform::Linux
