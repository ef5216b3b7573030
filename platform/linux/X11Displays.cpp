#include "platform/linux/X11Displays.h"

#include "platform/linux/X11ErrorTrap.h"
#include "platform/linux/X11Monitors.h"

namespace Platform {

std::unique_ptr<Displays> Displays::create(const std::string& displayName, std::string* whyNot) {
    try {
        return std::make_unique<Linux::X11Displays>(displayName);
    } catch (const Linux::X11Error& error) {
        if (whyNot) *whyNot = error.what();
        return nullptr;
    }
}

namespace Linux {

X11Displays::X11Displays(const std::string& displayName) : connection_(X11Connection::open(displayName)) {}

std::vector<ShareableDisplay> X11Displays::list() {
    try {
        X11ErrorTrap trap(connection_->display());
        auto displays = X11Monitors::list(*connection_);
        if (!trap.sync()) throw X11Error("the X server refused to list its monitors: " + trap.errorText());
        return displays;
    } catch (const X11Error& error) {
        throw DisplaysError(error.what());
    }
}

} // namespace Linux
} // namespace Platform
