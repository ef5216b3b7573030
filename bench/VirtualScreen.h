#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace Bench {

// A private Xvfb at the given size for one benchmark, found through -displayfd, ended on
// destruction.
class VirtualScreen {
public:
    VirtualScreen(int width, int height) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        std::string size = std::to_string(width) + "x" + std::to_string(height) + "x24";
        std::vector<std::string> arguments{"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", size};
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const int spawned = ::posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        std::string text;
        while (spawned == 0 && text.find('\n') == std::string::npos) {
            pollfd ready{.fd = fds[0], .events = POLLIN, .revents = 0};
            char buffer[16];
            if (::poll(&ready, 1, 20'000) <= 0) break;
            const ssize_t count = ::read(fds[0], buffer, sizeof buffer);
            if (count <= 0) break;
            text.append(buffer, static_cast<std::size_t>(count));
        }
        ::close(fds[0]);
        if (text.find('\n') == std::string::npos) throw std::runtime_error("Xvfb did not start");
        name_ = text.substr(0, text.find('\n'));
        name_.insert(name_.begin(), ':');
    }
    ~VirtualScreen() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    VirtualScreen(const VirtualScreen&) = delete;
    VirtualScreen& operator=(const VirtualScreen&) = delete;

    const std::string& name() const { return name_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

} // namespace Bench
