#include "platform/linux/SpawnRelauncher.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace Platform {

namespace {

constexpr int readyDescriptor = 3;

struct Pipe {
    int fds[2] = {-1, -1};
    ~Pipe() {
        for (const int fd : fds) {
            if (fd >= 0) ::close(fd);
        }
    }
};

// This process's environment with the ready variable set.
std::vector<std::string> childEnvironment() {
    std::vector<std::string> variables;
    const std::string prefix = std::string(SpawnRelauncher::readyVariable) + "=";
    for (char** entry = environ; entry && *entry; ++entry) {
        if (!std::string_view(*entry).starts_with(prefix)) variables.emplace_back(*entry);
    }
    variables.push_back(prefix + std::to_string(readyDescriptor));
    return variables;
}

} // namespace

Relauncher::Result SpawnRelauncher::start(const std::filesystem::path& program, std::chrono::milliseconds wait) {
    Pipe ready;
    if (::pipe2(ready.fds, O_CLOEXEC) != 0) return {Outcome::failed, std::strerror(errno)};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ready.fds[1], readyDescriptor);
    posix_spawn_file_actions_addclosefrom_np(&actions, readyDescriptor + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

    const std::string pid = std::to_string(::getpid());
    std::string path = program.string();
    std::string argument = afterUpdateArgument;
    std::string pidText = pid;
    char* arguments[] = {path.data(), argument.data(), pidText.data(), nullptr};
    auto variables = childEnvironment();
    std::vector<char*> environment;
    for (auto& variable : variables) environment.push_back(variable.data());
    environment.push_back(nullptr);

    pid_t child = 0;
    const int error = ::posix_spawn(&child, path.c_str(), &actions, &attributes, arguments, environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) return {Outcome::failed, std::strerror(error)};
    ::close(ready.fds[1]);
    ready.fds[1] = -1;

    pollfd readable{ready.fds[0], POLLIN, 0};
    int polled = 0;
    do {
        polled = ::poll(&readable, 1, static_cast<int>(wait.count()));
    } while (polled < 0 && errno == EINTR);
    if (polled == 0) return {Outcome::unanswered, {}};
    char byte = 0;
    if (polled > 0 && ::read(ready.fds[0], &byte, 1) == 1) return {Outcome::confirmed, {}};
    return {Outcome::failed, "the updated copy ended before it was ready"};
}

void Relauncher::signalReady() {
    const char* text = std::getenv(SpawnRelauncher::readyVariable);
    if (!text) return;
    int fd = -1;
    const std::string_view value(text);
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), fd);
    ::unsetenv(SpawnRelauncher::readyVariable);
    if (error != std::errc() || end != value.data() + value.size() || fd != readyDescriptor) return;
    [[maybe_unused]] const auto written = ::write(fd, "1", 1);
    ::close(fd);
}

std::unique_ptr<Relauncher> Relauncher::create() { return std::make_unique<SpawnRelauncher>(); }

} // namespace Platform
