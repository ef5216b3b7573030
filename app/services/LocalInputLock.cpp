#include "app/services/LocalInputLock.h"

#include "app/trace/TraceLog.h"

#include <string>

namespace Plovander {

void LocalInputLock::lock() {
    const auto refusals = lock_.lock([this] {
        TraceLog::message("local input lock: escape chord pressed at the Mac");
        if (onEscape) onEscape();
    });
    int kept = 0;
    for (int layer = 0; layer < Platform::InputLock::layerCount; ++layer) {
        if (refusals[static_cast<std::size_t>(layer)]) {
            TraceLog::inputLockTapRefused(layer);
        } else {
            ++kept;
        }
    }
    TraceLog::message([&] {
        std::string enabled;
        for (int i = 0; i < kept; ++i) enabled += i == 0 ? "true" : ", true";
        return "local input lock: " + std::to_string(kept) + " taps, enabled [" + enabled + "]";
    });
}

void LocalInputLock::unlock() {
    if (!lock_.isLocked()) return;
    lock_.unlock();
    const Platform::InputLock::Counts counts = lock_.counts();
    TraceLog::message([&] {
        return "local input lock off: dropped " + std::to_string(counts.dropped[0]) + " at HID, " +
               std::to_string(counts.dropped[1]) + " at session; passed " + std::to_string(counts.passed) +
               " from the device";
    });
}

} // namespace Plovander
