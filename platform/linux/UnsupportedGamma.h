#pragma once

#include "platform/Gamma.h"

namespace Platform::Linux {

// Gamma on a desktop where this build cannot set any: no display takes ramps.
class UnsupportedGamma final : public Gamma {
public:
    std::vector<std::uint32_t> onlineDisplays() override { return {}; }
    std::optional<Ramps> ramps(std::uint32_t) override { return std::nullopt; }
    bool setRamps(std::uint32_t, const Ramps&) override { return false; }
    void restoreSavedRamps() override {}
};

} // namespace Platform::Linux
