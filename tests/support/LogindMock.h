#pragma once

#include "tests/support/DaemonProcess.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryDirectory.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Testing {

// A private system bus with a mock logind on it (python3-dbusmock's template). While it exists,
// DBUS_SYSTEM_BUS_ADDRESS of this process names the private bus.
class LogindMock {
public:
    struct Inhibitor {
        std::string what, who, why, mode;
        friend bool operator==(const Inhibitor&, const Inhibitor&) = default;
    };

    // Throws std::runtime_error with the logs when the bus or logind does not come up.
    LogindMock();
    ~LogindMock();
    LogindMock(const LogindMock&) = delete;
    LogindMock& operator=(const LogindMock&) = delete;

    // What logind lists now.
    std::vector<Inhibitor> inhibitors();
    // Asks logind until `done` holds for its list, or until `patience` is over; returns the last list.
    std::vector<Inhibitor> inhibitorsOnce(const std::function<bool(const std::vector<Inhibitor>&)>& done,
                                          std::chrono::milliseconds patience = std::chrono::seconds(5));
    // Stops logind; the bus stays, so callers meet a bus where nobody answers.
    void stopLogind();
    std::string logText() const;

private:
    TemporaryDirectory folder_;
    std::optional<DaemonProcess> bus_;
    std::optional<DaemonProcess> logind_;
    ScopedEnvironment environment_;
    std::string address_;
};

} // namespace Testing
