#pragma once

#include <functional>
#include <string>

namespace Plovander {

// Makes every display show black while a session asks for a blank screen.
class ScreenBlanker {
public:
    virtual ~ScreenBlanker() = default;
    virtual void setBlanking(bool on) = 0;
    virtual bool isBlanking() const = 0;
};

// Keeps the people at this computer from using its own keyboard and mouse while injected input
// still works; the escape chord at the computer calls `onEscape`.
class LocalInputLock {
public:
    virtual ~LocalInputLock() = default;
    virtual void lock() = 0;
    virtual void unlock() = 0;
    virtual bool isLocked() const = 0;
    std::function<void()> onEscape;
};

// Keeps this computer from idle sleep while it shares or waits for a paired device.
class SleepGuard {
public:
    virtual ~SleepGuard() = default;
    virtual void setActive(bool on, const std::string& reason) = 0;
    virtual bool isActive() const = 0;
};

// Stand-ins until the real services exist: they do nothing and say so, never claiming an effect
// that did not happen.
class ScreenBlankerStandIn final : public ScreenBlanker {
public:
    void setBlanking(bool) override {}
    bool isBlanking() const override { return false; }
};

class LocalInputLockStandIn final : public LocalInputLock {
public:
    void lock() override {}
    void unlock() override {}
    bool isLocked() const override { return false; }
};

class SleepGuardStandIn final : public SleepGuard {
public:
    void setActive(bool, const std::string&) override {}
    bool isActive() const override { return false; }
};

} // namespace Plovander
