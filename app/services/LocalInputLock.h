#pragma once

#include "platform/InputLock.h"

#include <functional>

namespace Plovander {

// Keeps the people at this computer from using its own keyboard and mouse while injected input
// still works, and traces what it took and what it dropped. The escape chord at the computer calls
// `onEscape`. Main actor only.
class LocalInputLock final {
public:
    explicit LocalInputLock(Platform::InputLock& lock) : lock_(lock) {}
    ~LocalInputLock() { unlock(); }
    LocalInputLock(const LocalInputLock&) = delete;
    LocalInputLock& operator=(const LocalInputLock&) = delete;

    // Whether the display server lets the device's input in and the lock work.
    bool isTrusted() { return lock_.isTrusted(); }
    // Takes the devices at every layer that allows it; call only while unlocked.
    void lock();
    // Gives them back and traces the counts; harmless while unlocked.
    void unlock();
    bool isLocked() const { return lock_.isLocked(); }

    std::function<void()> onEscape;

private:
    Platform::InputLock& lock_;
};

} // namespace Plovander
