#include "tests/support/XvfbServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace Testing {
namespace {

constexpr int displayFdInChild = 3;
constexpr int startTimeoutMilliseconds = 20'000;
constexpr int endTimeoutMilliseconds = 5'000;

std::runtime_error failure(const std::string& what) {
    return std::runtime_error("Xvfb: " + what + ": " + std::strerror(errno));
}

// The program's path, looked up in PATH before forking.
std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    throw std::runtime_error(name + " is not installed");
}

// The display's name: ":" and the number that Xvfb writes once it accepts connections.
std::string readDisplayName(int fd) {
    std::string text = ":";
    while (text.find('\n') == std::string::npos) {
        pollfd ready{.fd = fd, .events = POLLIN, .revents = 0};
        const int polled = ::poll(&ready, 1, startTimeoutMilliseconds);
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) throw std::runtime_error("Xvfb did not report its display in time");
        char buffer[32];
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) throw std::runtime_error("Xvfb exited before reporting its display");
        text.append(buffer, static_cast<std::size_t>(count));
    }
    text.erase(text.find('\n'));
    return text;
}

} // namespace

XvfbServer::XvfbServer() : XvfbServer(Options{}) {}

XvfbServer::XvfbServer(const Options& options) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw failure("pipe");
    const int readEnd = pipeFds[0];
    const int writeEnd = pipeFds[1];

    std::vector<std::string> arguments{"Xvfb",
                                       "-displayfd",
                                       std::to_string(displayFdInChild),
                                       "-nolisten",
                                       "tcp",
                                       "-screen",
                                       "0",
                                       std::to_string(options.width) + "x" + std::to_string(options.height) + "x24"};
    for (const auto& extension : options.disabledExtensions) {
        arguments.push_back("-extension");
        arguments.push_back(extension);
    }
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    const std::string program = findProgram("Xvfb");
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls until exec. The server dies with the thread that started it,
        // so a test that crashes leaves no server behind.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        if (writeEnd == displayFdInChild) {
            ::fcntl(writeEnd, F_SETFD, 0);
        } else {
            ::dup2(writeEnd, displayFdInChild);
        }
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    const int forkError = errno;
    ::close(writeEnd);
    if (pid_ < 0) {
        ::close(readEnd);
        errno = forkError;
        throw failure("cannot start");
    }
    pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));

    try {
        displayName_ = readDisplayName(readEnd);
    } catch (...) {
        ::close(readEnd);
        end(SIGKILL);
        throw;
    }
    ::close(readEnd);
}

XvfbServer::~XvfbServer() {
    end(SIGTERM);
    for (const int listener : heldListeners_) ::close(listener);
}

void XvfbServer::kill() {
    // Xvfb picks the lowest free display number, and a crashed server frees its own at once.
    holdListeners();
    end(SIGKILL);
    shutHeldListeners();
}

void XvfbServer::holdListeners() {
    if (pid_ <= 0 || pidFd_ < 0) return;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", error)) {
        const std::string name = entry.path().filename().string();
        const int copy = static_cast<int>(::syscall(SYS_pidfd_getfd, pidFd_, std::atoi(name.c_str()), 0));
        if (copy < 0) continue;
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        int listening = 0;
        socklen_t flagLength = sizeof listening;
        if (::getsockname(copy, reinterpret_cast<sockaddr*>(&address), &length) == 0 && address.ss_family == AF_UNIX &&
            ::getsockopt(copy, SOL_SOCKET, SO_ACCEPTCONN, &listening, &flagLength) == 0 && listening != 0) {
            heldListeners_.push_back(copy);
        } else {
            ::close(copy);
        }
    }
}

void XvfbServer::shutHeldListeners() {
    // A listening socket shut for reading refuses every connection, yet keeps its name.
    for (const int listener : heldListeners_) ::shutdown(listener, SHUT_RD);
    if (!heldListeners_.empty()) return;
    // The server's sockets could not be copied (no ptrace rights): take its abstract name back now,
    // bound without listening, which refuses connections too. A server starting in between may
    // have taken it first; then the bind fails and nothing is held.
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = "/tmp/.X11-unix/X" + displayName_.substr(1);
    std::memcpy(address.sun_path + 1, path.data(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), length) == 0) {
        heldListeners_.push_back(socket);
    } else {
        ::close(socket);
    }
}

void XvfbServer::end(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    if (pidFd_ >= 0) {
        // Give a terminated server the time to remove its socket and lock file, then insist.
        pollfd exited{.fd = pidFd_, .events = POLLIN, .revents = 0};
        if (::poll(&exited, 1, endTimeoutMilliseconds) == 0) ::kill(pid_, SIGKILL);
        ::close(pidFd_);
        pidFd_ = -1;
    }
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

} // namespace Testing
