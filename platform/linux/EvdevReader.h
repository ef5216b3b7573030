#pragma once

#include "platform/linux/FileDescriptor.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace Platform::Linux {

// Reads `input_event` records from the kernel's input devices on a thread of its own: counts the
// key, button, motion and wheel events, and calls `onChord` (on that thread) when the escape
// chord is pressed. A device that ends or fails is dropped.
class EvdevReader {
public:
    EvdevReader(std::vector<std::unique_ptr<FileDescriptor>> devices, std::function<void()> onChord);
    ~EvdevReader();
    EvdevReader(const EvdevReader&) = delete;
    EvdevReader& operator=(const EvdevReader&) = delete;

    std::uint64_t events() const { return events_; }
    // Lets the devices go to the session again (they are grabbed); safe from any thread.
    void releaseGrabs();

private:
    void run();

    std::vector<std::unique_ptr<FileDescriptor>> devices_;
    std::function<void()> onChord_;
    std::atomic<std::uint64_t> events_ = 0;
    std::unique_ptr<FileDescriptor> wakeRead_;
    std::unique_ptr<FileDescriptor> wakeWrite_;
    std::thread thread_;
};

} // namespace Platform::Linux
