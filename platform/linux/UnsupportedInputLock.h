#pragma once

#include "platform/InputLock.h"

namespace Platform::Linux {

// The input lock on a desktop where this build cannot take the devices: every lock is refused.
class UnsupportedInputLock final : public InputLock {
public:
    static constexpr const char* reason = "locking the local keyboard and pointer is not available on this desktop";

    bool lock(std::function<void()>) override;
    void unlock() override {}
    State state() const override { return State::unlocked; }
    std::optional<std::string> refusal() const override { return refusal_; }

private:
    std::optional<std::string> refusal_;
};

} // namespace Platform::Linux
