#pragma once

#include "platform/PowerAssertion.h"

#include <chrono>

namespace Platform::Linux {

// Idle inhibitors of logind, asked for over the system bus, each on a connection of its own; an
// inhibitor lasts as long as its file descriptor stays open, so letting go of it (or the process
// ending) releases it.
class LogindPowerAssertion final : public PowerAssertion {
public:
    // How long the bus and logind may take to answer, the connection's own set-up included.
    static constexpr std::chrono::milliseconds defaultPatience{25'000};

    explicit LogindPowerAssertion(std::chrono::milliseconds patience = defaultPatience) : patience_(patience) {}

    Taken take(const std::string& reason, std::stop_token stop) override;

private:
    const std::chrono::milliseconds patience_;
};

} // namespace Platform::Linux
