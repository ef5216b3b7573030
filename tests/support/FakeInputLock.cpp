#include "tests/support/FakeInputLock.h"

#include <algorithm>
#include <utility>

namespace Testing {

std::array<std::optional<std::string>, Platform::InputLock::layerCount> FakeInputLock::lock(
    std::function<void()> onEscape) {
    if (locked_) return {};
    ++locks;
    locked_ = std::any_of(refusals.begin(), refusals.end(), [](const auto& refusal) { return !refusal; });
    if (locked_) onEscape_ = std::move(onEscape);
    return refusals;
}

void FakeInputLock::unlock() {
    if (!locked_) return;
    ++unlocks;
    onEscape_ = nullptr;
    locked_ = false;
}

bool FakeInputLock::pressEscapeChord() {
    if (!locked_) return false;
    if (onEscape_) onEscape_();
    return true;
}

} // namespace Testing
