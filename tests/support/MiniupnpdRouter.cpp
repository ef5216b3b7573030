#include "tests/support/MiniupnpdRouter.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace Testing {
namespace {

constexpr const char* childMarker = "PLOVANDER_ROUTER_TEST_PROCESS";

// Two veth pairs: host eth0 <-> router lan0, and router wan0 <-> wanpeer inside the router, since
// miniupnpd wants a real external interface. The chains must exist before miniupnpd starts.
constexpr const char* networkScript = R"(set -e
ip link set lo up
ip netns add router
ip link add eth0 type veth peer name lan0 netns router
ip addr add 192.168.77.2/24 dev eth0
ip link set eth0 up
ip -n router link set lo up
ip -n router addr add 192.168.77.1/24 dev lan0
ip -n router link set lan0 up
ip -n router link add wan0 type veth peer name wanpeer
ip -n router addr add 11.22.33.44/24 dev wan0
ip -n router link set wan0 up
ip -n router link set wanpeer up
ip route add default via 192.168.77.1
ip netns exec router nft -f - <<'RULES'
table inet filter {
  chain miniupnpd { }
  chain prerouting_miniupnpd { }
  chain postrouting_miniupnpd { }
  chain forward { type filter hook forward priority 0; policy accept; jump miniupnpd; }
  chain prerouting { type nat hook prerouting priority -100; policy accept; jump prerouting_miniupnpd; }
  chain postrouting { type nat hook postrouting priority 100; policy accept; jump postrouting_miniupnpd; }
}
RULES
)";

std::vector<std::string> environment() {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable; ++variable) variables.emplace_back(*variable);
    return variables;
}

std::string textOf(const std::filesystem::path& file) {
    std::stringstream text;
    text << std::ifstream(file).rdbuf();
    return text.str();
}

std::string shellOutput(const std::string& script, const std::filesystem::path& log) {
    const auto result = DaemonProcess::run({"sh", {"-c", script}, environment(), log}, std::chrono::seconds(20));
    if (result.exitStatus != 0) throw MiniupnpdRouter::Unavailable("router set-up failed: " + textOf(log));
    return result.output;
}

std::size_t threadCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
    return count;
}

// The whole process moves: sockets that worker threads open later land here too.
void enterPrivateNamespaces() {
    if (threadCount() != 1) throw MiniupnpdRouter::Unavailable("the test process already runs several threads");
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
        throw MiniupnpdRouter::Unavailable(std::string("cannot make network namespaces: ") + std::strerror(errno));
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
        throw MiniupnpdRouter::Unavailable(std::string("cannot make a private /run: ") + std::strerror(errno));
    }
}

} // namespace

MiniupnpdRouter::MiniupnpdRouter(Options options) {
    for (const char* program : {"/usr/sbin/miniupnpd", "/usr/sbin/nft", "/usr/sbin/ip"}) {
        if (::access(program, X_OK) != 0) throw Unavailable(std::string(program) + " is not installed");
    }
    enterPrivateNamespaces();
    shellOutput(networkScript, folder_ / "setup.log");

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
    daemon_ = std::make_unique<DaemonProcess>(DaemonProcess::Launch{
        "ip",
        {"netns", "exec", "router", "miniupnpd", "-d", "-f", configuration.string(), "-P", "/run/miniupnpd.pid"},
        environment(),
        folder_ / "miniupnpd.log"});
    // The last socket it opens on the way up.
    const char* ready = options.natPmp ? "Listening for NAT-PMP" : "HTTP listening on port";
    if (!waitForLog(ready)) throw Unavailable("miniupnpd did not come up:\n" + logText());
}

MiniupnpdRouter::~MiniupnpdRouter() = default;

std::string MiniupnpdRouter::forwardingRules() const {
    return shellOutput("ip netns exec router nft list chain inet filter prerouting_miniupnpd", folder_ / "nft.log");
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

MiniupnpdRouter::Rerun MiniupnpdRouter::rerunAlone() {
    if (std::getenv(childMarker)) return {Rerun::Kind::thisIsTheRerun, {}};
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    auto variables = environment();
    variables.push_back(std::string(childMarker) + "=1");
    TemporaryDirectory folder;
    const auto result =
        DaemonProcess::run({"/proc/self/exe",
                            {std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name()},
                            variables,
                            folder / "errors.log"},
                           std::chrono::seconds(90));
    const auto skipped = result.output.find("Skipped\n");
    if (result.exitStatus == 0 && skipped != std::string::npos) {
        return {Rerun::Kind::skipped, result.output.substr(skipped + 8)};
    }
    if (result.exitStatus == 0 && result.output.find("[  PASSED  ] 1 test.") != std::string::npos) {
        return {Rerun::Kind::passed, result.output};
    }
    return {Rerun::Kind::failed, result.output + textOf(folder / "errors.log")};
}

} // namespace Testing
