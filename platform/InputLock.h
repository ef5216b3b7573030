#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Platform {

// Takes the computer's own keyboards and pointers away from the user while a remote session asks
// for privacy; injected input (Events) still works. It works at two layers, each on its own:
// layer 0 takes the devices at the kernel, layer 1 at the display server. One way out stays at
// the computer: the escape chord Ctrl+Alt+Super+Escape, which reports itself, and releases the
// lock by itself when nobody unlocks within a few seconds. Main thread only.
class InputLock {
public:
    static constexpr int layerCount = 2;

    struct Counts {
        std::array<std::uint64_t, layerCount> dropped{}; // the computer's own events, per layer
        std::uint64_t passed = 0;                        // injected events let through
    };

    // For the display server `displayName` (empty: the session's), reached when locking.
    static std::unique_ptr<InputLock> create(const std::string& displayName = {});

    virtual ~InputLock() = default;

    // Whether the display server offers what injected input and the lock need.
    virtual bool isTrusted() = 0;
    // Takes the devices at every layer that allows it; `onEscape` runs on the main thread, never
    // inside lock(), each time the chord is pressed while locked. Returns, per layer, nullopt when
    // it holds, else why it was refused. Does nothing while locked. Resets the counts.
    [[nodiscard]] virtual std::array<std::optional<std::string>, layerCount> lock(std::function<void()> onEscape) = 0;
    // Gives the devices back; harmless while unlocked. The counts stay until the next lock.
    virtual void unlock() = 0;
    // At least one layer holds.
    virtual bool isLocked() const = 0;
    virtual Counts counts() const = 0;
};

} // namespace Platform
