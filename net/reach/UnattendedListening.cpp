#include "net/reach/UnattendedListening.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace TessaloyNet {

void UnattendedListening::failed() noexcept {
    if (consecutiveFailures_ < std::numeric_limits<std::int64_t>::max()) consecutiveFailures_ += 1;
}

std::optional<double> UnattendedListening::restartDelay(const HostSessionState::StopReason& after, bool enabled) const {
    if (!enabled) return std::nullopt;
    if (std::holds_alternative<HostSessionState::StopReason::UserStopped>(after.value)) return std::nullopt;
    const auto exponent = static_cast<double>(std::min<std::int64_t>(consecutiveFailures_, 6));
    return std::min(std::pow(2.0, exponent), 60.0);
}

} // namespace TessaloyNet
