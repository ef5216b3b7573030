#pragma once

#include "app/services/LocalInputLock.h"
#include "app/services/LoginItem.h"
#include "app/services/Reachability.h"
#include "app/services/RouterPortMapping.h"
#include "app/services/ScreenBlanker.h"
#include "app/services/SleepGuard.h"
#include "app/updater/MacUpdater.h"
#include "platform/Environment.h"

#include <memory>

namespace Plovander {

// The services of the controller, on the environment's facilities; the controller makes the updater
// and reachability.
struct SessionServices {
    explicit SessionServices(Platform::Environment& environment)
        : blanker(std::make_unique<ScreenBlanker>(environment.mainActor(), environment.gamma())),
          inputLock(std::make_unique<LocalInputLock>(environment.inputLock())),
          sleepGuard(std::make_unique<SleepGuard>(environment.mainActor(), environment.powerAssertion())),
          loginItem(environment.loginItems(), environment.userDefaults()),
          routerPort(std::make_unique<RouterPortMapping>(
              environment.mainActor(), [](std::uint16_t port) { return TessaloyNet::PortMapper::create(port); })) {}

    std::unique_ptr<ScreenBlanker> blanker;
    std::unique_ptr<LocalInputLock> inputLock;
    std::unique_ptr<SleepGuard> sleepGuard;
    LoginItem loginItem;
    std::unique_ptr<MacUpdater> updater;
    // Before reachability, which reads it.
    std::unique_ptr<RouterPort> routerPort;
    // Made by the controller, which holds what it reads.
    std::unique_ptr<Reachability> reachability;
};

} // namespace Plovander
