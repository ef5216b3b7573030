#pragma once

#include "base/MainActor.h"
#include "platform/PowerAssertion.h"

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>

namespace Plovander {

// Keeps this computer from idle sleep while it shares or waits for a paired device, by holding one
// power assertion. The assertion is taken on the pool for blocking work and the outcome comes back
// to the main actor, so the main actor never waits for the system's power service. Main actor only.
class SleepGuard final {
public:
    SleepGuard(TessaloyBase::MainActor& actor, std::shared_ptr<Platform::PowerAssertion> assertion);
    // Lets go of a held assertion; one still being taken is let go of as it comes.
    ~SleepGuard();
    SleepGuard(const SleepGuard&) = delete;
    SleepGuard& operator=(const SleepGuard&) = delete;

    // On: takes the assertion unless one is held or on its way (it keeps the reason it was asked
    // with); a failure is traced and the next call tries again. Off: lets go of it.
    void setActive(bool on, const std::string& reason);
    // Whether an assertion is held now; one on its way is not yet.
    bool isActive() const { return held_ != nullptr; }

private:
    struct Delivery;

    void take();
    void arrived(std::uint64_t wish, Platform::PowerAssertion::Taken taken);

    TessaloyBase::MainActor& actor_;
    std::shared_ptr<Platform::PowerAssertion> assertion_;
    std::unique_ptr<Platform::PowerAssertion::Held> held_;
    bool on_ = false;
    std::string reason_;
    // Counts the switches on: an assertion taken for an earlier one is let go of.
    std::uint64_t wish_ = 0;
    bool taking_ = false;
    std::stop_source stop_;
    std::shared_ptr<Delivery> delivery_;
};

} // namespace Plovander
