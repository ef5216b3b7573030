#include "tests/support/LogindMock.h"

#include "tests/support/PrivateSystemBus.h"

#include <systemd/sd-bus.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>

namespace Testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto startupDeadline = std::chrono::seconds(20);

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;

struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// A client of the bus at `address`; null while it does not accept.
Bus connect(const std::string& address) {
    sd_bus* made = nullptr;
    if (sd_bus_new(&made) < 0) return nullptr;
    Bus bus(made);
    if (sd_bus_set_address(bus.get(), address.c_str()) < 0 || sd_bus_set_bus_client(bus.get(), 1) < 0 ||
        sd_bus_start(bus.get()) < 0) {
        return nullptr;
    }
    return bus;
}

bool hasOwner(sd_bus* bus, const char* name) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const int code = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                        "NameHasOwner", &error, &reply, "s", name);
    sd_bus_error_free(&error);
    if (code < 0) return false;
    const Message owned(reply);
    int has = 0;
    return sd_bus_message_read(owned.get(), "b", &has) >= 0 && has;
}

} // namespace

LogindMock::LogindMock() {
    const auto socket = folder_ / "system_bus_socket";
    std::ofstream(folder_ / "bus.conf") << Testing::privateSystemBusConfiguration(socket);
    address_ = "unix:path=" + socket.string();
    DaemonProcess::Launch bus;
    bus.program = "dbus-daemon";
    bus.arguments = {"--config-file=" + (folder_ / "bus.conf").string(), "--nofork", "--nopidfile", "--nosyslog"};
    bus.environment = {"PATH=/usr/bin:/bin:/usr/sbin:/sbin"};
    bus.log = folder_ / "dbus-daemon.log";
    bus_.emplace(bus);

    const auto deadline = Clock::now() + startupDeadline;
    Bus client;
    while (!(client = connect(address_))) {
        if (!bus_->isRunning() || Clock::now() >= deadline) throw std::runtime_error("no private bus:\n" + logText());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // Subscribe before asking, so the name's arrival cannot slip between the two.
    if (sd_bus_add_match(client.get(), nullptr,
                         "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',"
                         "arg0='org.freedesktop.login1'",
                         nullptr, nullptr) < 0) {
        throw std::runtime_error("could not watch the bus's names");
    }

    DaemonProcess::Launch logind;
    logind.program = "/usr/bin/python3";
    logind.arguments = {"-m", "dbusmock", "--system", "--template", "logind"};
    logind.environment = {"PATH=/usr/bin:/bin", "DBUS_SYSTEM_BUS_ADDRESS=" + address_};
    logind.log = folder_ / "logind.log";
    logind_.emplace(logind);
    while (!hasOwner(client.get(), "org.freedesktop.login1")) {
        if (!logind_->isRunning() || Clock::now() >= deadline) {
            throw std::runtime_error("the mock logind did not come up:\n" + logText());
        }
        while (sd_bus_process(client.get(), nullptr) > 0) {
        }
        sd_bus_wait(client.get(), 100'000);
    }
    environment_.set("DBUS_SYSTEM_BUS_ADDRESS", address_);
}

LogindMock::~LogindMock() {
    logind_.reset();
    bus_.reset();
}

std::vector<LogindMock::Inhibitor> LogindMock::inhibitors() {
    const Bus bus = connect(address_);
    if (!bus) throw std::runtime_error("the private bus is gone");
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* answered = nullptr;
    const int code = sd_bus_call_method(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                                        "org.freedesktop.login1.Manager", "ListInhibitors", &error, &answered, "");
    const std::string message = error.message ? error.message : "";
    sd_bus_error_free(&error);
    if (code < 0) throw std::runtime_error("ListInhibitors failed: " + message);
    const Message reply(answered);
    std::vector<Inhibitor> list;
    if (sd_bus_message_enter_container(reply.get(), 'a', "(ssssuu)") < 0) return list;
    const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
    std::uint32_t user = 0, process = 0;
    while (sd_bus_message_read(reply.get(), "(ssssuu)", &what, &who, &why, &mode, &user, &process) > 0) {
        list.push_back({what, who, why, mode});
    }
    return list;
}

std::vector<LogindMock::Inhibitor> LogindMock::inhibitorsOnce(
    const std::function<bool(const std::vector<Inhibitor>&)>& done, std::chrono::milliseconds patience) {
    // logind drops an inhibitor when it sees its descriptor close, which it learns in its own time;
    // each question is a round trip through its loop, so asking again is what waits for it.
    const auto deadline = Clock::now() + patience;
    std::vector<Inhibitor> list = inhibitors();
    while (!done(list) && Clock::now() < deadline) list = inhibitors();
    return list;
}

void LogindMock::stopLogind() { logind_.reset(); }

std::string LogindMock::logText() const {
    std::string text;
    if (bus_) text += bus_->logText();
    if (logind_) text += logind_->logText();
    return text;
}

} // namespace Testing
