#include "tests/support/FakeInputLock.h"

#include <utility>

namespace Testing {

bool FakeInputLock::lock(std::function<void()> onEscape) {
    if (state_ == State::locked) return true;
    ++locks;
    refusal_ = refuseWith;
    if (refusal_) return false;
    onEscape_ = std::move(onEscape);
    state_ = State::locked;
    return true;
}

void FakeInputLock::unlock() {
    if (state_ == State::unlocked) return;
    ++unlocks;
    onEscape_ = nullptr;
    state_ = State::unlocked;
}

bool FakeInputLock::pressEscapeChord() {
    if (state_ != State::locked) return false;
    if (onEscape_) onEscape_();
    return true;
}

} // namespace Testing
