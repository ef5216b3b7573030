#pragma once

#include "platform/Gamma.h"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace Platform::Linux {

// A small process of its own that gives the display server back what this one changed on it, should
// this process die before it does (a crash, SIGKILL): display ramps and floated input devices
// outlive their client. It learns
// what to restore over a stream and restores it when the stream ends without a `forget`.
// Started on the first thing to guard, never by forking this threaded process.
class RestoreWatchdog {
public:
    // The watchdog program: beside the running executable, else the one this build made.
    static std::filesystem::path program();

    explicit RestoreWatchdog(std::string displayName) : displayName_(std::move(displayName)) {}
    ~RestoreWatchdog();
    RestoreWatchdog(const RestoreWatchdog&) = delete;
    RestoreWatchdog& operator=(const RestoreWatchdog&) = delete;

    // The display's ramps to give back; returns whether the watchdog holds them.
    bool guardRamps(std::uint32_t displayID, const Gamma::Ramps& ramps);
    // The slave device to attach to `master` again; returns whether the watchdog holds it.
    bool guardAttachment(int device, int master);
    // This process gave everything back itself.
    void forget();
    pid_t pid() const { return pid_; }

private:
    bool send(const std::string& line);
    void stop();

    std::string displayName_;
    pid_t pid_ = -1;
    int pipe_ = -1;
};

} // namespace Platform::Linux
