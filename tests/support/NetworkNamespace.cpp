#include "tests/support/NetworkNamespace.h"

#include "tests/support/DaemonProcess.h"
#include "tests/support/TemporaryDirectory.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace Testing {
namespace {

constexpr std::chrono::seconds commandPatience{10};

DaemonProcess::Result runIp(const std::vector<std::string>& arguments, const std::filesystem::path& log) {
    return DaemonProcess::run(
        {.program = "ip", .arguments = arguments, .environment = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"}, .log = log},
        commandPatience);
}

std::string uniqueName() {
    static std::atomic<int> made{0};
    return "plovander-test-" + std::to_string(::getpid()) + "-" + std::to_string(made++);
}

// Runs `ip <arguments...>` and returns its output; throws with its errors when it fails.
std::string checkedIp(const std::vector<std::string>& arguments) {
    const TemporaryDirectory folder;
    const auto result = runIp(arguments, folder / "log");
    if (result.exitStatus == 0) return result.output;
    std::string command = "ip";
    for (const std::string& argument : arguments) command += " " + argument;
    std::string errors;
    if (std::FILE* log = std::fopen((folder / "log").c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, log)) errors += buffer;
        std::fclose(log);
    }
    throw std::runtime_error(command + " failed: " + errors);
}

} // namespace

NetworkNamespace::NetworkNamespace() : name_(uniqueName()) {
    if (::geteuid() != 0) {
        unavailable_ = "network namespaces need root";
        return;
    }
    const TemporaryDirectory folder;
    try {
        const auto result = runIp({"netns", "add", name_}, folder / "log");
        if (result.exitStatus != 0) unavailable_ = "ip netns add failed";
    } catch (const std::exception& error) {
        unavailable_ = std::string("ip cannot run: ") + error.what();
    }
}

NetworkNamespace::~NetworkNamespace() {
    if (unavailable_) return;
    const TemporaryDirectory folder;
    try {
        runIp({"netns", "del", name_}, folder / "log");
    } catch (const std::exception&) {
    }
}

void NetworkNamespace::ip(const std::vector<std::string>& arguments) const {
    std::vector<std::string> full{"-n", name_};
    full.insert(full.end(), arguments.begin(), arguments.end());
    checkedIp(full);
}

std::string NetworkNamespace::exec(const std::vector<std::string>& command) const {
    std::vector<std::string> full{"netns", "exec", name_};
    full.insert(full.end(), command.begin(), command.end());
    return checkedIp(full);
}

void NetworkNamespace::addCable(const std::string& near, const std::string& far,
                                const NetworkNamespace* farSide) const {
    ip({"link", "add", near, "type", "veth", "peer", "name", far, "netns", (farSide ? farSide : this)->name_});
    ip({"link", "set", near, "up"});
    (farSide ? farSide : this)->ip({"link", "set", far, "up"});
}

void NetworkNamespace::enter() const {
    const int fd = ::open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
        std::perror("entering the test's network namespace");
        std::abort();
    }
    ::close(fd);
}

} // namespace Testing
