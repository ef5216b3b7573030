#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Platform {

// Takes the computer's own keyboards and pointers away from the desktop session while a remote
// session asks for privacy; injected input (Events) still works. One way out stays at the
// computer: the escape chord Ctrl+Alt+Super+Escape, which only reports itself. Main thread only.
class InputLock {
public:
    enum class State { unlocked, locked };

    // For the display server `displayName` (empty: the session's), reached when locking.
    static std::unique_ptr<InputLock> create(const std::string& displayName = {});

    virtual ~InputLock() = default;

    // Takes the devices; `onEscape` runs on the main thread, never inside lock(), each time the
    // chord is pressed while locked. Returns whether the lock holds; when not, refusal() says why.
    // Does nothing while locked.
    [[nodiscard]] virtual bool lock(std::function<void()> onEscape) = 0;
    // Gives the devices back; harmless while unlocked.
    virtual void unlock() = 0;
    virtual State state() const = 0;
    // Why the last lock() failed; nullopt after one that held.
    virtual std::optional<std::string> refusal() const = 0;
};

} // namespace Platform
