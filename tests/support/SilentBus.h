#pragma once

#include "tests/support/TemporaryDirectory.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Testing {

// A D-Bus address where something takes connections and never says a word: a Unix socket whose
// connections are accepted and kept, unread. Clients connect, write their greeting and wait.
class SilentBus {
public:
    // Throws std::system_error when the socket cannot be made.
    SilentBus();
    ~SilentBus();
    SilentBus(const SilentBus&) = delete;
    SilentBus& operator=(const SilentBus&) = delete;

    // Such as "unix:path=/tmp/…/bus", for DBUS_SYSTEM_BUS_ADDRESS.
    std::string address() const;
    // Whether `count` clients have connected in all, waiting up to `patience` for them.
    bool awaitCallers(std::size_t count, std::chrono::milliseconds patience);

private:
    void accept();

    TemporaryDirectory folder_;
    int listening_ = -1;
    std::mutex lock_;
    std::condition_variable called_;
    std::vector<int> callers_;
    std::thread acceptor_;
};

} // namespace Testing
