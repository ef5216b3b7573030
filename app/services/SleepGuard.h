#pragma once

#include "platform/PowerAssertion.h"

#include <string>

namespace Plovander {

// Keeps this computer from idle sleep while it shares or waits for a paired device, by holding one
// power assertion. Main actor only.
class SleepGuard final {
public:
    explicit SleepGuard(Platform::PowerAssertion& assertion) : assertion_(assertion) {}
    ~SleepGuard() { assertion_.release(); }
    SleepGuard(const SleepGuard&) = delete;
    SleepGuard& operator=(const SleepGuard&) = delete;

    // On: holds the assertion unless one is held (which keeps the reason it was taken with); a
    // failure is traced and the next call tries again. Off: releases a held assertion.
    void setActive(bool on, const std::string& reason);
    bool isActive() const { return assertion_.isHeld(); }

private:
    Platform::PowerAssertion& assertion_;
};

} // namespace Plovander
