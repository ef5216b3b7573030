#include "app/services/SleepGuard.h"

#include "app/trace/TraceLog.h"

namespace Plovander {

void SleepGuard::setActive(bool on, const std::string& reason) {
    if (!on) {
        assertion_.release();
        return;
    }
    if (assertion_.isHeld()) return;
    if (const auto code = assertion_.hold(reason)) TraceLog::couldNotPreventIdleSleep(std::to_string(*code));
}

} // namespace Plovander
