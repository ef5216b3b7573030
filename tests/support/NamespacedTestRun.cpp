#include "tests/support/NamespacedTestRun.h"

#include <gtest/gtest.h>

#include "tests/support/DaemonProcess.h"
#include "tests/support/TemporaryDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace Testing {
namespace {

constexpr const char* insideVariable = "TESSALOY_NETWORK_NAMESPACE";

std::vector<std::string> currentEnvironment() {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable; ++variable) variables.emplace_back(*variable);
    return variables;
}

std::string textOf(const std::filesystem::path& file) {
    std::ifstream stream(file);
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
}

} // namespace

bool NamespacedTestRun::isInside() { return std::getenv(insideVariable) != nullptr; }

NamespacedTestRun::Outcome NamespacedTestRun::runCurrentTest(std::chrono::milliseconds patience) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string(test->test_suite_name()) + "." + test->name();
    const TemporaryDirectory folder;
    DaemonProcess::Launch launch{.program = std::filesystem::read_symlink("/proc/self/exe"),
                                 .arguments = {"--gtest_filter=" + filter},
                                 .environment = currentEnvironment(),
                                 .log = folder / "errors.log",
                                 .confinedToLoopback = true};
    launch.environment.push_back(std::string(insideVariable) + "=1");
    DaemonProcess::Result result;
    try {
        result = DaemonProcess::run(launch, patience);
    } catch (const DaemonProcess::ConfinementRefused& refused) {
        return {Outcome::Kind::skipped, std::string("no network namespace here: ") + refused.what()};
    }
    Outcome outcome;
    outcome.output = result.output + textOf(launch.log);
    if (result.timedOut) outcome.output += "\n(timed out)";
    if (result.exitStatus != 0 || result.timedOut) return outcome;
    outcome.kind =
        result.output.find("[  SKIPPED ]") != std::string::npos ? Outcome::Kind::skipped : Outcome::Kind::passed;
    return outcome;
}

void NamespacedTestRun::ip(const std::vector<std::string>& arguments) {
    const TemporaryDirectory folder;
    const DaemonProcess::Launch launch{
        .program = "ip", .arguments = arguments, .environment = {}, .log = folder / "errors.log"};
    const auto result = DaemonProcess::run(launch, std::chrono::seconds(10));
    if (result.exitStatus == 0) return;
    std::string command = "ip";
    for (const std::string& argument : arguments) command += " " + argument;
    throw std::runtime_error(command + " failed: " + textOf(launch.log));
}

void NamespacedTestRun::addTunnel(const std::string& name, const std::vector<std::string>& addresses) {
    ip({"tuntap", "add", "dev", name, "mode", "tun"});
    for (const std::string& address : addresses) {
        std::vector<std::string> add = {"address", "add", address, "dev", name};
        if (address.find(':') != std::string::npos) add.push_back("nodad");
        ip(add);
    }
    ip({"link", "set", name, "up"});
}

} // namespace Testing
