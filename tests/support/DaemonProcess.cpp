#include "tests/support/DaemonProcess.h"

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

namespace Testing {
namespace {

using Clock = std::chrono::steady_clock;

// What the child reports through its error pipe before it would exec.
enum class Step : int { exec = 1, unshare, privateMounts, privateRun, loopback };

struct ChildFailure {
    Step step;
    int error;
};

const char* describe(Step step) {
    switch (step) {
        case Step::exec:
            return "exec";
        case Step::unshare:
            return "unshare of network and mount namespaces";
        case Step::privateMounts:
            return "making mounts private";
        case Step::privateRun:
            return "mounting a private /run";
        case Step::loopback:
            return "bringing up loopback";
    }
    return "?";
}

std::filesystem::path resolve(const std::filesystem::path& program) {
    if (program.has_parent_path()) return program;
    std::string folders = "/usr/sbin:/sbin";
    if (const char* path = std::getenv("PATH")) folders = std::string(path) + ":" + folders;
    std::stringstream list(folders);
    for (std::string folder; std::getline(list, folder, ':');) {
        if (folder.empty()) continue;
        const std::filesystem::path candidate = std::filesystem::path(folder) / program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    throw std::runtime_error("program not found: " + program.string());
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// After fork only async-signal-safe calls: everything the child needs is prepared before.
[[noreturn]] void childFail(int errorPipe, Step step) {
    const ChildFailure failure{step, errno};
    [[maybe_unused]] const auto written = ::write(errorPipe, &failure, sizeof failure);
    ::_exit(127);
}

[[noreturn]] void runChild(const char* program, char* const* argv, char* const* envp, int output, int errors,
                           bool confined, int errorPipe, pid_t parent) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD}) ::sigaction(signal, &defaults, nullptr);

    const int nothing = ::open("/dev/null", O_RDONLY);
    if (nothing >= 0) ::dup2(nothing, STDIN_FILENO);
    ::dup2(output, STDOUT_FILENO);
    ::dup2(errors, STDERR_FILENO);
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);

    if (confined) {
        if (::unshare(CLONE_NEWNET | CLONE_NEWNS) < 0) childFail(errorPipe, Step::unshare);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) < 0) childFail(errorPipe, Step::privateMounts);
        if (::mount("tmpfs", "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") < 0) {
            childFail(errorPipe, Step::privateRun);
        }
        const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (socket < 0) childFail(errorPipe, Step::loopback);
        struct ifreq request {};
        std::memcpy(request.ifr_name, "lo", 3);
        if (::ioctl(socket, SIOCGIFFLAGS, &request) < 0) childFail(errorPipe, Step::loopback);
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_MULTICAST);
        if (::ioctl(socket, SIOCSIFFLAGS, &request) < 0) childFail(errorPipe, Step::loopback);
        ::close(socket);
    }
    ::execve(program, argv, envp);
    childFail(errorPipe, Step::exec);
}

// Starts the child with standard output on `output` and errors on `errors`; throws when it could not
// get as far as exec.
pid_t spawn(const DaemonProcess::Launch& launch, int output, int errors) {
    const std::string program = resolve(launch.program).string();
    std::vector<std::string> arguments{program};
    arguments.insert(arguments.end(), launch.arguments.begin(), launch.arguments.end());
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = launch.environment;
    std::vector<char*> envp;
    for (auto& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);

    std::array<int, 2> errorPipe{};
    if (::pipe2(errorPipe.data(), O_CLOEXEC) < 0)
        throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
    Fd readEnd(errorPipe[0]);
    Fd writeEnd(errorPipe[1]);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
    if (pid == 0) {
        runChild(program.c_str(), argv.data(), envp.data(), output, errors, launch.confinedToLoopback, writeEnd.get(),
                 parent);
    }
    writeEnd.reset();

    ChildFailure failure{};
    ssize_t got = 0;
    do {
        got = ::read(readEnd.get(), &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    if (got == 0) return pid; // the pipe closed on exec

    int status = 0;
    ::waitpid(pid, &status, 0);
    const std::string message = program + ": " + describe(failure.step) + " failed: " + std::strerror(failure.error);
    if (failure.step != Step::exec) throw DaemonProcess::ConfinementRefused(message);
    throw std::runtime_error(message);
}

Fd openLog(const std::filesystem::path& log) {
    const std::string path = log.empty() ? std::string("/dev/null") : log.string();
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (fd.get() < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    return fd;
}

} // namespace

DaemonProcess::DaemonProcess(Launch launch) : launch_(std::move(launch)) {
    const Fd log = openLog(launch_.log);
    pid_ = spawn(launch_, log.get(), log.get());
}

DaemonProcess::~DaemonProcess() { stop(SIGTERM); }

bool DaemonProcess::isRunning() {
    if (pid_ < 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == 0) return true;
    pid_ = -1;
    return false;
}

void DaemonProcess::stop(int signal, std::chrono::milliseconds grace) {
    if (pid_ < 0) return;
    // A pidfd turns readable when the child exits, so the wait needs no polling.
    const Fd exits(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
    ::kill(pid_, signal);
    if (exits.get() >= 0) {
        pollfd exited{exits.get(), POLLIN, 0};
        while (::poll(&exited, 1, static_cast<int>(grace.count())) < 0 && errno == EINTR) {
        }
    } else {
        const auto deadline = Clock::now() + grace;
        while (isRunning() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!isRunning()) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string DaemonProcess::logText() const {
    if (launch_.log.empty()) return {};
    std::ifstream file(launch_.log);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

DaemonProcess::Result DaemonProcess::run(const Launch& launch, std::chrono::milliseconds timeout) {
    std::array<int, 2> outputPipe{};
    if (::pipe2(outputPipe.data(), O_CLOEXEC) < 0) {
        throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
    }
    Fd readEnd(outputPipe[0]);
    Fd writeEnd(outputPipe[1]);
    const Fd log = openLog(launch.log);
    const pid_t pid = spawn(launch, writeEnd.get(), log.get());
    writeEnd.reset();

    Result result;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        pollfd ready{readEnd.get(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) continue;
        std::array<char, 4096> buffer{};
        const ssize_t got = ::read(readEnd.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        result.output.append(buffer.data(), static_cast<std::size_t>(got));
    }
    if (result.timedOut) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    return result;
}

} // namespace Testing
