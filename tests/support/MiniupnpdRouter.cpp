#include "tests/support/MiniupnpdRouter.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace Testing {
namespace {

// miniupnpd wants a real external interface, and its chains must exist before it starts.
constexpr const char* chains = R"(table inet filter {
  chain miniupnpd { }
  chain prerouting_miniupnpd { }
  chain postrouting_miniupnpd { }
  chain forward { type filter hook forward priority 0; policy accept; jump miniupnpd; }
  chain prerouting { type nat hook prerouting priority -100; policy accept; jump prerouting_miniupnpd; }
  chain postrouting { type nat hook postrouting priority 100; policy accept; jump postrouting_miniupnpd; }
}
)";

std::vector<std::string> environment() {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable; ++variable) variables.emplace_back(*variable);
    return variables;
}

std::size_t threadCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
    return count;
}

} // namespace

MiniupnpdRouter::MiniupnpdRouter(Options options) {
    for (const char* program : {"/usr/sbin/miniupnpd", "/usr/sbin/nft", "/usr/sbin/ip"}) {
        if (::access(program, X_OK) != 0) throw Unavailable(std::string(program) + " is not installed");
    }
    for (const auto* space : {&router_, &host_}) {
        if (space->unavailable()) throw Unavailable(*space->unavailable());
    }
    // Threads started later, the process's shared pools' included, are born behind the router.
    if (threadCount() != 1) throw Unavailable("the test process already runs several threads");
    const auto rules = folder_ / "chains.nft";
    std::ofstream(rules) << chains;
    try {
        host_.ip({"link", "set", "lo", "up"});
        router_.ip({"link", "set", "lo", "up"});
        host_.addCable("eth0", "lan0", &router_);
        host_.ip({"addr", "add", "192.168.77.2/24", "dev", "eth0"});
        host_.ip({"route", "add", "default", "via", "192.168.77.1"});
        router_.ip({"addr", "add", "192.168.77.1/24", "dev", "lan0"});
        router_.addCable("wan0", "wanpeer");
        router_.ip({"addr", "add", "11.22.33.44/24", "dev", "wan0"});
        router_.exec({"nft", "-f", rules.string()});
    } catch (const std::runtime_error& error) {
        throw Unavailable(std::string("router set-up failed: ") + error.what());
    }

    const auto configuration = folder_ / "miniupnpd.conf";
    std::ofstream(configuration) << "ext_ifname=wan0\n"
                                    "listening_ip=lan0\n"
                                    "http_port=0\n"
                                 << "enable_natpmp=" << (options.natPmp ? "yes" : "no") << "\n"
                                 << "enable_upnp=yes\n"
                                    "secure_mode=yes\n"
                                    "system_uptime=yes\n"
                                    "uuid=3e6f6a3c-7c52-4c2e-9f10-8f9b8f1a0001\n"
                                    "allow 1024-65535 192.168.77.0/24 1024-65535\n"
                                    "deny 0-65535 0.0.0.0/0 0-65535\n";
    daemon_ = std::make_unique<DaemonProcess>(
        DaemonProcess::Launch{"ip",
                              {"netns", "exec", router_.name(), "miniupnpd", "-d", "-f", configuration.string(), "-P",
                               (folder_ / "miniupnpd.pid").string()},
                              environment(),
                              folder_ / "miniupnpd.log"});
    // The last socket it opens on the way up.
    const char* ready = options.natPmp ? "Listening for NAT-PMP" : "HTTP listening on port";
    if (!waitForLog(ready)) throw Unavailable("miniupnpd did not come up:\n" + logText());
    host_.enter();
}

MiniupnpdRouter::~MiniupnpdRouter() = default;

std::string MiniupnpdRouter::forwardingRules() const {
    return router_.exec({"nft", "list", "chain", "inet", "filter", "prerouting_miniupnpd"});
}

std::string MiniupnpdRouter::logText() const { return daemon_ ? daemon_->logText() : std::string(); }

std::size_t MiniupnpdRouter::logCount(std::string_view text) const {
    std::size_t count = 0;
    const std::string log = logText();
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size())) ++count;
    return count;
}

bool MiniupnpdRouter::waitForLog(std::string_view text, std::size_t count, std::chrono::milliseconds patience) const {
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0) return logCount(text) >= count;
    ::inotify_add_watch(watch, (folder_ / "miniupnpd.log").c_str(), IN_MODIFY);
    const auto deadline = std::chrono::steady_clock::now() + patience;
    bool found = logCount(text) >= count;
    while (!found && std::chrono::steady_clock::now() < deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd changed{watch, POLLIN, 0};
        if (::poll(&changed, 1, static_cast<int>(left.count()) + 1) > 0) {
            char events[4096];
            while (::read(watch, events, sizeof events) > 0) {
            }
        }
        found = logCount(text) >= count;
    }
    ::close(watch);
    return found;
}

} // namespace Testing
