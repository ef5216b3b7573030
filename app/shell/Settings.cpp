#include "app/shell/Settings.h"

#include "platform/UserDefaults.h"

namespace Plovander::Settings {

bool isOn(const Platform::UserDefaults& defaults, std::string_view key) {
    const bool onWhenAbsent = key == connect || key == openRouterPort || key == stayAwakeForPairedDevices;
    return defaults.boolean(key).value_or(onWhenAbsent);
}

} // namespace Plovander::Settings
