#pragma once

#include "tests/support/TemporaryDirectory.h"

#include <chrono>
#include <string>

namespace Testing {

// A D-Bus address where something takes connections and never says a word: a listening Unix
// socket whose connections wait in its backlog. Clients connect, write their greeting and wait.
class SilentBus {
public:
    // Throws std::system_error when the socket cannot be made.
    SilentBus();
    ~SilentBus();
    SilentBus(const SilentBus&) = delete;
    SilentBus& operator=(const SilentBus&) = delete;

    // Such as "unix:path=/tmp/…/bus", for DBUS_SYSTEM_BUS_ADDRESS.
    std::string address() const;
    // Whether a client has connected, waiting up to `patience` for the first.
    bool awaitCaller(std::chrono::milliseconds patience) const;

private:
    TemporaryDirectory folder_;
    int fd_ = -1;
};

} // namespace Testing
