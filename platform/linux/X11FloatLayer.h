#pragma once

#include "platform/linux/RestoreWatchdog.h"
#include "platform/linux/X11Connection.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace Platform::Linux {

// The input lock's display-server layer: floats every physical keyboard and pointer off the
// session's master devices (XInput 2), so their input moves and types nothing, while the XTEST
// devices of injected input stay attached. A thread of its own reads the raw events of all
// devices on a connection of its own: it counts the floated devices' events as dropped and the
// XTEST devices' as passed, watches for the chord, and floats devices plugged in meanwhile.
// A float outlives our connection, so a watchdog process reattaches the devices should we die.
class X11FloatLayer {
public:
    explicit X11FloatLayer(std::string displayName) : displayName_(std::move(displayName)) {}
    ~X11FloatLayer() { release(); }

    // Why the devices could not be taken, or nullopt. `onChord` runs on the reader's thread.
    std::optional<std::string> take(std::function<void()> onChord);
    void release();
    // Reattaches the devices on a connection of the caller's; safe from any thread while taken.
    void reattachFromAnyThread();
    bool holds() const { return reader_.joinable(); }
    std::uint64_t dropped() const { return dropped_; }
    std::uint64_t passed() const { return passed_; }

private:
    // Floats the physical slave devices of `display` not floated yet; why not, or nullopt.
    std::optional<std::string> floatDevices(::Display* display);
    void read();
    void reattach(::Display* display);

    std::string displayName_;
    std::unique_ptr<X11Connection> events_; // the reader's, while taken
    std::function<void()> onChord_;
    int extensionOpcode_ = 0;
    std::unique_ptr<RestoreWatchdog> watchdog_;
    std::mutex lock_;            // guards floated_ and the watchdog
    std::map<int, int> floated_; // device to the master it was attached to
    bool floating_ = false;      // from take until the devices are given back
    std::atomic<std::uint64_t> dropped_ = 0;
    std::atomic<std::uint64_t> passed_ = 0;
    int wake_[2] = {-1, -1};
    std::thread reader_;
};

} // namespace Platform::Linux
