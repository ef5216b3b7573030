#include "platform/linux/LogindPowerAssertion.h"

#include <systemd/sd-bus.h>

#include <fcntl.h>

namespace Platform {

std::unique_ptr<PowerAssertion> PowerAssertion::create() { return std::make_unique<Linux::LogindPowerAssertion>(); }

namespace Linux {
namespace {

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};

} // namespace

std::optional<int> LogindPowerAssertion::hold(const std::string& reason) {
    if (isHeld()) return std::nullopt;
    // A connection of our own: the call blocks only this caller, and nothing else shares its state.
    sd_bus* opened = nullptr;
    if (const int code = sd_bus_open_system(&opened); code < 0) return code;
    const std::unique_ptr<sd_bus, BusUnref> bus(opened);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* answered = nullptr;
    const int code = sd_bus_call_method(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                                        "org.freedesktop.login1.Manager", "Inhibit", &error, &answered, "ssss", "idle",
                                        "Plovander", reason.c_str(), "block");
    sd_bus_error_free(&error);
    if (code < 0) return code;
    const std::unique_ptr<sd_bus_message, MessageUnref> reply(answered);
    int fd = -1;
    if (const int read = sd_bus_message_read(reply.get(), "h", &fd); read < 0) return read;
    // The descriptor belongs to the message; ours is a duplicate that outlives it.
    const int kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (kept < 0) return -errno;
    inhibitor_ = std::make_unique<FileDescriptor>(kept);
    return std::nullopt;
}

} // namespace Linux
} // namespace Platform
