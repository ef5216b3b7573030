#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Platform {

// The colour ramps of the displays: what blanks a screen to black and gives it back its colours.
// Main thread only.
class Gamma {
public:
    // One ramp per channel: output levels from 0 to 1 for evenly spaced input levels. A display
    // stretches a ramp of another length over its own.
    struct Ramps {
        std::vector<float> red;
        std::vector<float> green;
        std::vector<float> blue;

        friend bool operator==(const Ramps&, const Ramps&) = default;
    };

    // The display server `displayName` (empty: the session's), reached on first use; while no server
    // answers, no display is listed.
    static std::unique_ptr<Gamma> create(const std::string& displayName = {});

    virtual ~Gamma() = default;

    // The ids (as Displays lists them) of the displays whose ramps can be set; empty when none can.
    virtual std::vector<std::uint32_t> onlineDisplays() = 0;
    // The display's current ramps; nullopt when it has none or is gone.
    virtual std::optional<Ramps> ramps(std::uint32_t displayID) = 0;
    // Loads `ramps` into the display, first saving the ramps it had. Returns whether it took them.
    virtual bool setRamps(std::uint32_t displayID, const Ramps& ramps) = 0;
    // Gives every display changed here the ramps it had before its first change, and forgets them.
    virtual void restoreSavedRamps() = 0;
};

} // namespace Platform
