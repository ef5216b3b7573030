#include "platform/linux/LogindPowerAssertion.h"

#include "platform/linux/FileDescriptor.h"
#include "platform/linux/SystemBus.h"

#include <systemd/sd-bus.h>

#include <fcntl.h>

#include <cerrno>

namespace Platform {

std::shared_ptr<PowerAssertion> PowerAssertion::create() { return std::make_shared<Linux::LogindPowerAssertion>(); }

namespace Linux {
namespace {

class Inhibitor final : public PowerAssertion::Held {
public:
    explicit Inhibitor(int fd) : fd_(fd) {}

private:
    FileDescriptor fd_;
};

struct Answer {
    bool arrived = false;
    int code = 0;
    int fd = -1;
};

int answered(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    Answer& answer = *static_cast<Answer*>(userdata);
    answer.arrived = true;
    if (sd_bus_message_is_method_error(reply, nullptr)) {
        answer.code = -sd_bus_message_get_errno(reply);
        return 0;
    }
    int fd = -1;
    if (const int read = sd_bus_message_read(reply, "h", &fd); read < 0) {
        answer.code = read;
        return 0;
    }
    // The descriptor belongs to the message; ours is a duplicate that outlives it.
    answer.fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (answer.fd < 0) answer.code = -errno;
    return 0;
}

} // namespace

PowerAssertion::Taken LogindPowerAssertion::take(const std::string& reason, std::stop_token stop) {
    const auto deadline = std::chrono::steady_clock::now() + patience_;
    // The call is made asynchronously and waited for here: sd-bus's own calls would wait for a
    // silent bus far longer, without a way to stop them.
    Answer answer;
    SystemBus bus;
    if (const int code = openSystemBus(bus); code < 0) return code;
    if (const int code = sd_bus_call_method_async(
            bus.get(), nullptr, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
            "Inhibit", answered, &answer, "ssss", "idle", "Plovander", reason.c_str(), "block");
        code < 0) {
        return code;
    }
    if (const int code = processUntil(
            bus.get(), [&] { return answer.arrived; }, deadline, stop);
        code < 0)
        return code;
    if (answer.code < 0) return answer.code;
    return std::make_unique<Inhibitor>(answer.fd);
}

} // namespace Linux
} // namespace Platform
