#pragma once

#include <functional>

namespace Plovander {

// Checks the release manifest and installs updates.
class MacUpdater {
public:
    virtual ~MacUpdater() = default;
    // Checks soon after start and then daily; `onChange` follows every change of what it found.
    virtual void startDailyCheck() = 0;
    std::function<void()> onChange;
};

// Stand-in until updates exist: checks nothing and never finds an update.
class MacUpdaterStandIn final : public MacUpdater {
public:
    void startDailyCheck() override {}
};

} // namespace Plovander
