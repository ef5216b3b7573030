#pragma once

#include "platform/InputLock.h"
#include "platform/linux/X11Connection.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

class QSocketNotifier;

namespace Platform::Linux {

// Locks by grabbing every physical keyboard and pointer through XInput2 on a connection of its
// own: a grabbed device is floated off the session's master devices, so its input reaches only
// this object, while the XTEST devices of injected input stay attached. The server ends the grabs
// when the connection closes, so the devices come back even when the process dies. The chord is
// watched in the grabbed keyboards' own key events, read on the main thread.
class X11InputLock final : public InputLock {
public:
    explicit X11InputLock(std::string displayName);
    ~X11InputLock() override;

    bool lock(std::function<void()> onEscape) override;
    void unlock() override;
    State state() const override { return connection_ ? State::locked : State::unlocked; }
    std::optional<std::string> refusal() const override { return refusal_; }

private:
    // Grabs every physical device; what went wrong, or nullopt.
    std::optional<std::string> grabDevices();
    void readEvents();
    void keyChanged(int keycode, bool isDown, bool isRepeat);
    bool chordHeld() const;

    std::string displayName_;
    std::unique_ptr<X11Connection> connection_; // while locked
    int extensionOpcode_ = 0;
    std::vector<int> grabbed_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> onEscape_;
    std::set<int> heldKeycodes_;
    std::optional<std::string> refusal_;
};

} // namespace Platform::Linux
