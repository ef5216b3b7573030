#include "platform/linux/EvdevInputLayer.h"

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace Platform::Linux {
namespace {

// Whether the device has keys or moves a pointer.
bool isKeyboardOrPointer(int fd) {
    unsigned long types = 0;
    if (::ioctl(fd, EVIOCGBIT(0, sizeof types), &types) < 0) return false;
    return (types & (1UL << EV_KEY)) || (types & (1UL << EV_REL)) || (types & (1UL << EV_ABS));
}

} // namespace

std::optional<std::string> EvdevInputLayer::take(std::function<void()> onChord) {
    if (reader_) return std::nullopt;
    std::vector<std::unique_ptr<FileDescriptor>> devices;
    std::string failure = "no input device under " + folder_.string();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
        if (!entry.path().filename().string().starts_with("event")) continue;
        auto device = std::make_unique<FileDescriptor>(::open(entry.path().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (device->get() < 0) {
            failure = "could not open " + entry.path().string() + ": " + std::strerror(errno);
            continue;
        }
        if (!isKeyboardOrPointer(device->get())) continue;
        if (::ioctl(device->get(), EVIOCGRAB, 1) != 0) {
            failure = "could not take " + entry.path().string() + ": " + std::strerror(errno);
            continue;
        }
        devices.push_back(std::move(device));
    }
    if (devices.empty()) return failure;
    dropped_ = 0;
    reader_ = std::make_unique<EvdevReader>(std::move(devices), std::move(onChord));
    return std::nullopt;
}

void EvdevInputLayer::releaseGrabs() {
    if (reader_) reader_->releaseGrabs();
}

} // namespace Platform::Linux
