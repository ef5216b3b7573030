#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace Testing {

// A child process started by a test. Its output goes to a log file; it is stopped (SIGTERM, then
// SIGKILL) and reaped on destruction, and the kernel kills it if the thread that started it dies
// first, so a crashed test leaves no daemon behind.
class DaemonProcess {
public:
    struct Launch {
        // An absolute path, or a name looked up in PATH, /usr/sbin and /sbin.
        std::filesystem::path program;
        std::vector<std::string> arguments;
        // The child's whole environment, as "NAME=value".
        std::vector<std::string> environment;
        // Standard output and error; /dev/null when empty.
        std::filesystem::path log;
        // Runs the child in new network and mount namespaces: only loopback (up, with multicast), and a
        // private tmpfs over /run, so nothing it does reaches the real network or the real /run.
        bool confinedToLoopback = false;
    };

    // The machine forbids the namespaces of a confined launch; the message says which step failed.
    class ConfinementRefused : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // Throws ConfinementRefused, or std::runtime_error when the program cannot be started.
    explicit DaemonProcess(Launch launch);
    ~DaemonProcess();
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Reaps the child when it has exited.
    bool isRunning();
    // Sends `signal`, waits up to `grace` for the child to exit, then kills and reaps it.
    void stop(int signal, std::chrono::milliseconds grace = std::chrono::seconds(3));
    std::string logText() const;

    struct Result {
        int exitStatus = -1; // -1 unless the program exited normally
        bool timedOut = false;
        std::string output; // standard output
    };
    // Runs a program to its end and collects its standard output (its errors go to `launch.log`);
    // kills it when it outlives `timeout`.
    static Result run(const Launch& launch, std::chrono::milliseconds timeout);

private:
    Launch launch_;
    pid_t pid_ = -1;
};

} // namespace Testing
