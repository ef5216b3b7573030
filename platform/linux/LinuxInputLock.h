#pragma once

#include "platform/InputLock.h"
#include "platform/linux/EvdevInputLayer.h"
#include "platform/linux/X11FloatLayer.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class QObject;

namespace Platform::Linux {

// The input lock on both layers: the kernel's devices (layer 0) and the display server's (layer
// 1). When the chord was pressed and nobody unlocks within `selfRelease`, it lets the devices go
// by itself, from a thread of its own, so a stuck main thread cannot keep the user locked out.
class LinuxInputLock final : public InputLock {
public:
    static constexpr std::chrono::seconds selfRelease{3};

    LinuxInputLock(std::string displayName, std::filesystem::path inputFolder);
    ~LinuxInputLock() override;

    bool isTrusted() override;
    std::array<std::optional<std::string>, layerCount> lock(std::function<void()> onEscape) override;
    void unlock() override;
    bool isLocked() const override { return evdev_.holds() || x11_.holds(); }
    Counts counts() const override;

private:
    // From either layer's thread.
    void chordPressed();
    void watchChord();

    std::string displayName_;
    EvdevInputLayer evdev_;
    X11FloatLayer x11_;
    std::function<void()> onEscape_;
    std::unique_ptr<QObject> mainThread_; // the context of calls to the main thread
    std::mutex lock_;
    std::condition_variable changed_;
    bool chordPressed_ = false;
    bool stopping_ = false;
    std::thread deadline_;
};

} // namespace Platform::Linux
