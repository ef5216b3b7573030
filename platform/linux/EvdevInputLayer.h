#pragma once

#include "platform/linux/EvdevReader.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Platform::Linux {

// The input lock's kernel layer: grabs (EVIOCGRAB) every keyboard and pointer under `folder`, so
// their events reach only us, and reads them on a thread. The kernel ends a grab when its file
// closes, so the devices come back even when the process dies.
class EvdevInputLayer {
public:
    explicit EvdevInputLayer(std::filesystem::path folder = "/dev/input") : folder_(std::move(folder)) {}

    // Why the devices could not be taken, or nullopt. `onChord` runs on the reader's thread.
    std::optional<std::string> take(std::function<void()> onChord);
    void release() {
        if (reader_) dropped_ = reader_->events();
        reader_.reset();
    }
    // Safe from any thread while taken.
    void releaseGrabs();
    bool holds() const { return reader_ != nullptr; }
    std::uint64_t dropped() const { return reader_ ? reader_->events() : dropped_; }

private:
    std::filesystem::path folder_;
    std::unique_ptr<EvdevReader> reader_;
    std::uint64_t dropped_ = 0;
};

} // namespace Platform::Linux
