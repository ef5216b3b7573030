#pragma once

#include "platform/InputLock.h"

namespace Testing {

// An input lock that takes nothing: each layer holds unless the test set its refusal, it records
// how often it was locked and unlocked, and presses the escape chord when the test says so.
class FakeInputLock final : public Platform::InputLock {
public:
    std::array<std::optional<std::string>, layerCount> refusals;
    bool trusted = true;
    Counts counted;
    int locks = 0;
    int unlocks = 0;

    bool isTrusted() override { return trusted; }
    std::array<std::optional<std::string>, layerCount> lock(std::function<void()> onEscape) override;
    void unlock() override;
    bool isLocked() const override { return locked_; }
    Counts counts() const override { return counted; }

    // Runs the handler of the running lock, as the chord at the computer would; false when unlocked.
    bool pressEscapeChord();

private:
    bool locked_ = false;
    std::function<void()> onEscape_;
};

} // namespace Testing
