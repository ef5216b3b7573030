#include "platform/linux/EvdevReader.h"

#include "platform/linux/EscapeChord.h"

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace Platform::Linux {
namespace {

EscapeChord::Key keyOf(unsigned code) {
    switch (code) {
        case KEY_LEFTCTRL:
        case KEY_RIGHTCTRL:
            return EscapeChord::Key::control;
        case KEY_LEFTALT:
        case KEY_RIGHTALT:
            return EscapeChord::Key::alt;
        case KEY_LEFTMETA:
        case KEY_RIGHTMETA:
            return EscapeChord::Key::super;
        case KEY_ESC:
            return EscapeChord::Key::escape;
        default:
            return EscapeChord::Key::other;
    }
}

} // namespace

EvdevReader::EvdevReader(std::vector<std::unique_ptr<FileDescriptor>> devices, std::function<void()> onChord)
    : devices_(std::move(devices)), onChord_(std::move(onChord)) {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    wakeRead_ = std::make_unique<FileDescriptor>(ends[0]);
    wakeWrite_ = std::make_unique<FileDescriptor>(ends[1]);
    thread_ = std::thread([this] { run(); });
}

EvdevReader::~EvdevReader() {
    // Closing the wake pipe's end tells the thread to stop.
    wakeWrite_.reset();
    thread_.join();
}

void EvdevReader::releaseGrabs() {
    for (const auto& device : devices_) ::ioctl(device->get(), EVIOCGRAB, 0);
}

void EvdevReader::run() {
    EscapeChord chord;
    std::vector<pollfd> watched;
    watched.push_back({wakeRead_->get(), POLLIN, 0});
    for (const auto& device : devices_) watched.push_back({device->get(), POLLIN, 0});
    while (true) {
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (watched[0].revents != 0) return;
        for (std::size_t i = 1; i < watched.size(); ++i) {
            if (watched[i].revents == 0) continue;
            input_event records[64];
            const ssize_t count = ::read(watched[i].fd, records, sizeof records);
            if (count <= 0) {
                if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                watched[i].fd = -1; // poll skips it from now on
                continue;
            }
            for (std::size_t r = 0; r < static_cast<std::size_t>(count) / sizeof(input_event); ++r) {
                const input_event& event = records[r];
                if (event.type != EV_KEY && event.type != EV_REL && event.type != EV_ABS) continue;
                ++events_;
                // Value 2 is an auto-repeated press.
                if (event.type == EV_KEY && event.value != 2 && chord.changed(keyOf(event.code), event.value == 1)) {
                    onChord_();
                }
            }
        }
    }
}

} // namespace Platform::Linux
