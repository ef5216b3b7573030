#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace Testing {

// Runs tests in a network namespace of their own, as root. Each thread keeps the namespace it was
// started in and the shared I/O threads start early, so the chosen tests run again, whole, in a child
// process that starts in new network and mount namespaces with only loopback up: every thread and
// socket of the child lives there, and every link it makes dies with it.
class NamespacedTestRun {
public:
    struct Outcome {
        enum class Kind { passed, skipped, failed };
        Kind kind = Kind::failed;
        // The child's report, or why it could not run.
        std::string output;
    };

    // Whether this process is such a child.
    static bool isInside();
    // Runs the current test again in a child; skipped when the machine refuses the namespaces.
    static Outcome runCurrentTest(std::chrono::milliseconds patience = std::chrono::seconds(90));
    // Runs `ip` with `arguments` in this process's namespace; throws std::runtime_error with its
    // errors when it fails.
    static void ip(const std::vector<std::string>& arguments);
    // Makes the tun link `name` carrying `addresses` ("10.0.0.1/24", "fd00::1/64": usable at once)
    // and brings it up; throws std::runtime_error when it cannot.
    static void addTunnel(const std::string& name, const std::vector<std::string>& addresses);
};

} // namespace Testing
