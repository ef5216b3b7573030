#pragma once

#include "platform/InputLock.h"

namespace Testing {

// An input lock that takes nothing: it locks unless the test set `refuseWith`, records how often it
// was locked and unlocked, and presses the escape chord when the test says so.
class FakeInputLock final : public Platform::InputLock {
public:
    std::optional<std::string> refuseWith;
    int locks = 0;
    int unlocks = 0;

    bool lock(std::function<void()> onEscape) override;
    void unlock() override;
    State state() const override { return state_; }
    std::optional<std::string> refusal() const override { return refusal_; }

    // Runs the handler of the running lock, as the chord at the computer would; false when unlocked.
    bool pressEscapeChord();

private:
    State state_ = State::unlocked;
    std::optional<std::string> refusal_;
    std::function<void()> onEscape_;
};

} // namespace Testing
