#include "tests/support/AvahiDaemon.h"

#include "tests/support/PrivateSystemBus.h"

#include <avahi-client/client.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace Testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto startupDeadline = std::chrono::seconds(20);
constexpr auto browseDeadline = std::chrono::seconds(25);

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream file(path);
    file << text;
}

// Loopback only, IPv4 only (one answer per service), nothing published but what clients ask for.
constexpr const char* daemonConfiguration = R"([server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
[reflector]
[rlimits]
)";

bool accepts(const std::filesystem::path& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Whether an Avahi client on the bus sees the daemon running before the deadline.
bool serves(Clock::time_point deadline, DaemonProcess& daemon) {
    std::unique_ptr<AvahiSimplePoll, decltype(&avahi_simple_poll_free)> poll(avahi_simple_poll_new(),
                                                                             &avahi_simple_poll_free);
    std::unique_ptr<AvahiClient, decltype(&avahi_client_free)> client(nullptr, &avahi_client_free);
    while (Clock::now() < deadline && daemon.isRunning()) {
        if (client && avahi_client_get_state(client.get()) == AVAHI_CLIENT_S_RUNNING) return true;
        if (client && avahi_client_get_state(client.get()) == AVAHI_CLIENT_FAILURE) client.reset();
        if (!client) {
            int error = 0;
            client.reset(
                avahi_client_new(avahi_simple_poll_get(poll.get()), AVAHI_CLIENT_NO_FAIL, nullptr, nullptr, &error));
            if (!client) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
        }
        avahi_simple_poll_iterate(poll.get(), 20);
    }
    return false;
}

// avahi-browse writes a name with "\DDD" (decimal) and "\c" escapes.
std::string unescapeName(std::string_view text) {
    std::string name;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            name += text[i];
        } else if (i + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1])) &&
                   std::isdigit(static_cast<unsigned char>(text[i + 2])) &&
                   std::isdigit(static_cast<unsigned char>(text[i + 3]))) {
            name += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 3))));
            i += 3;
        } else {
            name += text[++i];
        }
    }
    return name;
}

// `"key=value" "key=value"`, each item quoted without escapes.
std::vector<std::pair<std::string, std::string>> parseTxt(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> items;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] != '"') {
            ++at;
            continue;
        }
        std::size_t end = text.find("\" \"", at + 1);
        if (end == std::string_view::npos) end = text.rfind('"');
        if (end <= at) break;
        const std::string_view item = text.substr(at + 1, end - at - 1);
        const std::size_t equals = item.find('=');
        if (equals == std::string_view::npos) {
            items.emplace_back(std::string(item), std::string());
        } else {
            items.emplace_back(std::string(item.substr(0, equals)), std::string(item.substr(equals + 1)));
        }
        at = end + 1;
    }
    return items;
}

} // namespace

std::optional<std::string> AvahiDaemon::Service::txtValue(std::string_view key) const {
    for (const auto& [itemKey, value] : txt) {
        if (itemKey == key) return value;
    }
    return std::nullopt;
}

AvahiDaemon::AvahiDaemon(Start start) {
    // Find out first whether the daemon can be kept off the real network at all.
    try {
        DaemonProcess::Launch probe;
        probe.program = "true";
        probe.confinedToLoopback = true;
        DaemonProcess::run(probe, std::chrono::seconds(10));
    } catch (const DaemonProcess::ConfinementRefused& refused) {
        unavailableReason_ =
            std::string(
                "this machine forbids private network namespaces, so avahi-daemon cannot be kept off the "
                "real network (") +
            refused.what() + ")";
        return;
    }

    const auto socket = folder_ / "system_bus_socket";
    writeFile(folder_ / "bus.conf", Testing::privateSystemBusConfiguration(socket));
    busAddress_ = "unix:path=" + socket.string();
    DaemonProcess::Launch bus;
    bus.program = "dbus-daemon";
    bus.arguments = {"--config-file=" + (folder_ / "bus.conf").string(), "--nofork", "--nopidfile", "--nosyslog"};
    bus.environment = {"PATH=/usr/bin:/bin:/usr/sbin:/sbin"};
    bus.log = folder_ / "dbus-daemon.log";
    const auto started = Clock::now();
    bus_.emplace(bus);
    const auto deadline = started + startupDeadline;
    while (!accepts(socket)) {
        if (!bus_->isRunning()) throw std::runtime_error("dbus-daemon exited while starting:\n" + logText());
        if (Clock::now() >= deadline) throw std::runtime_error("dbus-daemon did not listen in time:\n" + logText());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    busStartupTime_ = Clock::now() - started;

    environment_.set("DBUS_SYSTEM_BUS_ADDRESS", busAddress_);
    writeFile(folder_ / "avahi-daemon.conf", daemonConfiguration);
    if (start == Start::busAndDaemon) startDaemon();
}

AvahiDaemon::~AvahiDaemon() {
    daemon_.reset();
    bus_.reset();
}

void AvahiDaemon::startDaemon() {
    if (!available()) throw std::logic_error("avahi-daemon is not available here: " + unavailableReason_);
    stopDaemon();
    DaemonProcess::Launch launch;
    launch.program = "avahi-daemon";
    // Root keeps its rights and no chroot or rlimits apply: the namespaces confine it instead.
    launch.arguments = {"--file=" + (folder_ / "avahi-daemon.conf").string(), "--no-chroot", "--no-drop-root",
                        "--no-rlimits", "--no-proc-title"};
    launch.environment = {"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "DBUS_SYSTEM_BUS_ADDRESS=" + busAddress_};
    launch.log = folder_ / "avahi-daemon.log";
    launch.confinedToLoopback = true;
    const auto started = Clock::now();
    daemon_.emplace(launch);
    if (!serves(started + startupDeadline, *daemon_)) {
        throw std::runtime_error("avahi-daemon did not come up in time:\n" + logText());
    }
    daemonStartupTime_ = Clock::now() - started;
}

void AvahiDaemon::stopDaemon() {
    if (daemon_) daemon_->stop(SIGTERM);
    daemon_.reset();
}

std::vector<AvahiDaemon::Service> AvahiDaemon::browse(const std::string& type) const {
    DaemonProcess::Launch launch;
    launch.program = "avahi-browse";
    launch.arguments = {"--resolve", "--parsable", "--terminate", "--no-db-lookup", type};
    launch.environment = {"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "LC_ALL=C", "DBUS_SYSTEM_BUS_ADDRESS=" + busAddress_};
    launch.log = folder_ / "avahi-browse.log";
    const auto result = DaemonProcess::run(launch, std::chrono::seconds(15));
    if (result.timedOut) throw std::runtime_error("avahi-browse did not finish:\n" + logText());
    return parseBrowseOutput(result.output);
}

std::vector<AvahiDaemon::Service> AvahiDaemon::browseUntil(const std::function<bool(const std::vector<Service>&)>& done,
                                                           const std::string& type) const {
    const auto deadline = Clock::now() + browseDeadline;
    auto found = browse(type);
    while (!done(found) && Clock::now() < deadline) found = browse(type);
    return found;
}

std::string AvahiDaemon::logText() const {
    std::string text;
    for (const char* name : {"dbus-daemon.log", "avahi-daemon.log", "avahi-browse.log"}) {
        std::ifstream file(folder_ / name);
        if (!file) continue;
        std::stringstream content;
        content << file.rdbuf();
        text += std::string("--- ") + name + "\n" + content.str();
    }
    return text;
}

std::vector<AvahiDaemon::Service> AvahiDaemon::parseBrowseOutput(const std::string& output) {
    std::vector<Service> services;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("=;", 0) != 0) continue;
        // Nine fields, then the TXT record, which may hold ';' itself.
        std::vector<std::string> fields;
        std::size_t at = 0;
        while (fields.size() < 9) {
            const std::size_t end = line.find(';', at);
            if (end == std::string::npos) break;
            fields.push_back(line.substr(at, end - at));
            at = end + 1;
        }
        if (fields.size() < 9) continue;
        Service service;
        service.interface = fields[1];
        service.protocol = fields[2];
        service.name = unescapeName(fields[3]);
        service.type = fields[4];
        service.domain = fields[5];
        service.host = fields[6];
        service.address = fields[7];
        service.port = static_cast<std::uint16_t>(std::stoul(fields[8]));
        service.txt = parseTxt(std::string_view(line).substr(at));
        services.push_back(std::move(service));
    }
    return services;
}

} // namespace Testing
