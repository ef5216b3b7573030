#include "tests/support/FakePowerAssertion.h"

namespace Testing {

std::optional<int> FakePowerAssertion::hold(const std::string& reason) {
    if (held_) return std::nullopt;
    if (refuseWith) return refuseWith;
    taken.push_back(reason);
    held_ = true;
    return std::nullopt;
}

void FakePowerAssertion::release() {
    if (!held_) return;
    ++releases;
    held_ = false;
}

} // namespace Testing
