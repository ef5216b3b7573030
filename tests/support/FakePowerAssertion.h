#pragma once

#include "platform/PowerAssertion.h"

#include <vector>

namespace Testing {

// A power assertion that holds nothing: it records the reason of every assertion taken and how
// often one was released, and refuses while the test sets `refuseWith`.
class FakePowerAssertion final : public Platform::PowerAssertion {
public:
    std::optional<int> refuseWith;
    std::vector<std::string> taken;
    int releases = 0;

    std::optional<int> hold(const std::string& reason) override;
    void release() override;
    bool isHeld() const override { return held_; }

private:
    bool held_ = false;
};

} // namespace Testing
