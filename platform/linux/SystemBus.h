#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>

namespace Platform::Linux {

// A connection of its own to the system bus. It closes without flushing: a flush would first wait
// for a bus that never answers to finish setting the connection up.
struct SystemBusClose {
    void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
using SystemBus = std::unique_ptr<sd_bus, SystemBusClose>;

// Opens one without waiting for the bus; a negative errno when there is no bus to connect to.
int openSystemBus(SystemBus& bus);

// Works the connection until `done` holds, waiting for the bus in short slices. Returns 0 then,
// -ETIMEDOUT at `deadline`, -ECANCELED soon after `stop` is requested, or the connection's error.
int processUntil(sd_bus* bus, const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline,
                 std::stop_token stop = {});

// Whether a system bus takes connections but does not finish setting one up within `patience`. A
// missing bus is not silent: clients learn at once that it is not there.
bool systemBusIsSilent(std::chrono::milliseconds patience);

} // namespace Platform::Linux
