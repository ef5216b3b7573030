#pragma once

#include "platform/PowerAssertion.h"
#include "platform/linux/FileDescriptor.h"

#include <memory>

namespace Platform::Linux {

// An idle inhibitor of logind, asked for over the system bus; it lasts as long as its file
// descriptor stays open, so closing it (or the process ending) releases it.
class LogindPowerAssertion final : public PowerAssertion {
public:
    std::optional<int> hold(const std::string& reason) override;
    void release() override { inhibitor_.reset(); }
    bool isHeld() const override { return inhibitor_ != nullptr; }

private:
    std::unique_ptr<FileDescriptor> inhibitor_;
};

} // namespace Platform::Linux
