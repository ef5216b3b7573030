#pragma once

#include "platform/PowerAssertion.h"

#include <QDBusUnixFileDescriptor>

namespace Platform::Linux {

// An idle inhibitor of logind, asked for over the system bus; it lasts as long as its file
// descriptor stays open.
class LogindPowerAssertion final : public PowerAssertion {
public:
    std::optional<std::string> hold(const std::string& reason) override;
    void release() override { inhibitor_ = QDBusUnixFileDescriptor(); }
    bool isHeld() const override { return inhibitor_.isValid(); }

private:
    QDBusUnixFileDescriptor inhibitor_;
};

} // namespace Platform::Linux
