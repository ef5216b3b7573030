#pragma once

#include "platform/Gamma.h"

#include <map>

namespace Testing {

// Displays whose ramps live in memory: `current` is what each shows, and every setRamps() and
// restore is recorded. Main thread only, like the real one.
class FakeGamma final : public Platform::Gamma {
public:
    std::map<std::uint32_t, Ramps> current;
    std::vector<std::pair<std::uint32_t, Ramps>> sets;
    int restores = 0;

    std::vector<std::uint32_t> onlineDisplays() override;
    std::optional<Ramps> ramps(std::uint32_t displayID) override;
    bool setRamps(std::uint32_t displayID, const Ramps& ramps) override;
    void restoreSavedRamps() override;

private:
    std::map<std::uint32_t, Ramps> saved_;
};

} // namespace Testing
