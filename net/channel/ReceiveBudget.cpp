#include "net/channel/ReceiveBudget.h"

#include <algorithm>

namespace TessaloyNet {

bool ReceiveBudget::admit(Clock::time_point now) {
    if (started_ && now > last_) {
        const double elapsed = std::chrono::duration<double>(now - last_).count();
        tokens_ = std::min(limits_.burstPackets, tokens_ + elapsed * limits_.packetsPerSecond);
    }
    if (!started_ || now > last_) last_ = now;
    started_ = true;
    if (tokens_ < 1) return false;
    tokens_ -= 1;
    return true;
}

} // namespace TessaloyNet
