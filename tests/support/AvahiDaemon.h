#pragma once

#include "tests/support/DaemonProcess.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryDirectory.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Testing {

// A private system-style D-Bus and an avahi-daemon bound to it, confined to loopback in network and
// mount namespaces of its own, so it never answers or disturbs the real network and parallel tests
// never meet. While it exists, DBUS_SYSTEM_BUS_ADDRESS of this process names the private bus, so
// Avahi clients created afterwards talk to it only. libdbus reads that variable once per process, so
// a test process holds one such fixture (ctest runs each test in its own process).
class AvahiDaemon {
public:
    enum class Start { busAndDaemon, busOnly };

    // A service as `avahi-browse --resolve --parsable` reports it.
    struct Service {
        std::string interface;
        std::string protocol;
        std::string name;
        std::string type;
        std::string domain;
        std::string host;
        std::string address;
        std::uint16_t port = 0;
        std::vector<std::pair<std::string, std::string>> txt;

        std::optional<std::string> txtValue(std::string_view key) const;
    };

    // Does not throw when the machine forbids namespaces: available() is then false and nothing runs.
    // Throws std::runtime_error with the logs when a daemon does not come up.
    explicit AvahiDaemon(Start start = Start::busAndDaemon);
    ~AvahiDaemon();
    AvahiDaemon(const AvahiDaemon&) = delete;
    AvahiDaemon& operator=(const AvahiDaemon&) = delete;

    bool available() const { return unavailableReason_.empty(); }
    // Why the daemon cannot be run in isolation here; tests skip with it.
    const std::string& unavailableReason() const { return unavailableReason_; }
    const std::string& busAddress() const { return busAddress_; }
    std::chrono::duration<double> busStartupTime() const { return busStartupTime_; }
    // The last startDaemon(), until the daemon serves clients.
    std::chrono::duration<double> daemonStartupTime() const { return daemonStartupTime_; }

    // Starts avahi-daemon on the bus (again) and waits until it serves clients.
    void startDaemon();
    // Stops avahi-daemon as a shutdown would; the bus stays.
    void stopDaemon();

    // Runs `avahi-browse --resolve --parsable --terminate` for `type` on the private bus.
    std::vector<Service> browse(const std::string& type = "_tessaloy._tcp") const;
    // Browses again until `done` holds for what was found, or a deadline passes; returns the last result.
    std::vector<Service> browseUntil(const std::function<bool(const std::vector<Service>&)>& done,
                                     const std::string& type = "_tessaloy._tcp") const;

    std::string logText() const;

    // The services of one `avahi-browse --parsable` output ("=" lines).
    static std::vector<Service> parseBrowseOutput(const std::string& output);

private:
    TemporaryDirectory folder_;
    std::string unavailableReason_;
    std::string busAddress_;
    ScopedEnvironment environment_;
    std::optional<DaemonProcess> bus_;
    std::optional<DaemonProcess> daemon_;
    std::chrono::duration<double> busStartupTime_{};
    std::chrono::duration<double> daemonStartupTime_{};
};

} // namespace Testing
