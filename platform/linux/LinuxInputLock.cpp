// Qt before Xlib, whose macros (Bool, Status) break Qt's headers.
#include <QMetaObject>
#include <QObject>

#include "platform/linux/LinuxInputLock.h"

#include "platform/linux/X11Connection.h"

#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

namespace Platform {

std::unique_ptr<InputLock> InputLock::create(const std::string& displayName) {
    return std::make_unique<Linux::LinuxInputLock>(displayName, "/dev/input");
}

namespace Linux {

LinuxInputLock::LinuxInputLock(std::string displayName, std::filesystem::path inputFolder)
    : displayName_(displayName),
      evdev_(std::move(inputFolder)),
      x11_(std::move(displayName)),
      mainThread_(std::make_unique<QObject>()) {}

LinuxInputLock::~LinuxInputLock() { unlock(); }

bool LinuxInputLock::isTrusted() {
    try {
        const auto connection = X11Connection::open(displayName_);
        ::Display* display = connection->display();
        int event = 0;
        int error = 0;
        int major = 0;
        int minor = 0;
        if (!XTestQueryExtension(display, &event, &error, &major, &minor)) return false;
        int opcode = 0;
        major = 2;
        minor = 2;
        return XQueryExtension(display, "XInputExtension", &opcode, &event, &error) &&
               XIQueryVersion(display, &major, &minor) == Success && (major > 2 || (major == 2 && minor >= 2));
    } catch (const X11Error&) {
        return false;
    }
}

std::array<std::optional<std::string>, InputLock::layerCount> LinuxInputLock::lock(std::function<void()> onEscape) {
    if (isLocked()) return {};
    onEscape_ = std::move(onEscape);
    chordPressed_ = false;
    stopping_ = false;
    std::array<std::optional<std::string>, layerCount> refusals = {
        evdev_.take([this] { chordPressed(); }),
        x11_.take([this] { chordPressed(); }),
    };
    if (isLocked()) deadline_ = std::thread([this] { watchChord(); });
    return refusals;
}

void LinuxInputLock::unlock() {
    if (deadline_.joinable()) {
        {
            const std::lock_guard guard(lock_);
            stopping_ = true;
        }
        changed_.notify_all();
        deadline_.join();
    }
    evdev_.release();
    x11_.release();
    onEscape_ = nullptr;
}

InputLock::Counts LinuxInputLock::counts() const {
    return {.dropped = {evdev_.dropped(), x11_.dropped()}, .passed = x11_.passed()};
}

void LinuxInputLock::chordPressed() {
    // Later, on the main thread's loop; dropped when the lock goes first.
    QMetaObject::invokeMethod(
        mainThread_.get(),
        [this] {
            if (onEscape_) onEscape_();
        },
        Qt::QueuedConnection);
    {
        const std::lock_guard guard(lock_);
        chordPressed_ = true;
    }
    changed_.notify_all();
}

void LinuxInputLock::watchChord() {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return chordPressed_ || stopping_; });
    if (stopping_) return;
    if (changed_.wait_for(guard, selfRelease, [this] { return stopping_; })) return;
    evdev_.releaseGrabs();
    x11_.reattachFromAnyThread();
}

} // namespace Linux
} // namespace Platform
