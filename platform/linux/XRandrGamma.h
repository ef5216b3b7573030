#pragma once

#include "platform/Gamma.h"
#include "platform/linux/RestoreWatchdog.h"
#include "platform/linux/X11Connection.h"

#include <map>
#include <memory>
#include <string>

namespace Platform::Linux {

// The gamma ramps of the RandR CRTCs. A display is an output driven by a CRTC, with the output's
// id as Displays lists it. The connection is made on first use and again after the server went.
// While ramps are changed, a watchdog process holds the saved ones, so they come back even when
// this process dies first.
class XRandrGamma final : public Gamma {
public:
    // `none` loads ramps as they come, saving and restoring nothing: for the watchdog itself.
    enum class Guard { watchdog, none };

    explicit XRandrGamma(std::string displayName, Guard guard = Guard::watchdog);
    ~XRandrGamma() override;

    std::vector<std::uint32_t> onlineDisplays() override;
    std::optional<Ramps> ramps(std::uint32_t displayID) override;
    bool setRamps(std::uint32_t displayID, const Ramps& ramps) override;
    void restoreSavedRamps() override;

private:
    // The live connection, or null when no server answers.
    X11Connection* connection();
    // The CRTC driving the output `displayID`; 0 when none does.
    unsigned long crtcOf(std::uint32_t displayID);
    bool load(unsigned long crtc, const Ramps& ramps);

    std::string displayName_;
    std::unique_ptr<X11Connection> connection_;
    std::map<std::uint32_t, Ramps> saved_;
    Guard guard_;
    std::unique_ptr<RestoreWatchdog> watchdog_; // while ramps are saved
};

} // namespace Platform::Linux
