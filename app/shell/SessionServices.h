#pragma once

#include "app/services/PrivacyServices.h"
#include "app/services/Reachability.h"
#include "app/updater/MacUpdater.h"

#include <memory>

namespace Plovander {

// The services of the controller that later work fills in; the defaults are the stand-ins.
struct SessionServices {
    std::unique_ptr<ScreenBlanker> blanker = std::make_unique<ScreenBlankerStandIn>();
    std::unique_ptr<LocalInputLock> inputLock = std::make_unique<LocalInputLockStandIn>();
    std::unique_ptr<SleepGuard> sleepGuard = std::make_unique<SleepGuardStandIn>();
    std::unique_ptr<MacUpdater> updater = std::make_unique<MacUpdaterStandIn>();
    std::unique_ptr<Reachability> reachability = std::make_unique<ReachabilityStandIn>();
};

} // namespace Plovander
