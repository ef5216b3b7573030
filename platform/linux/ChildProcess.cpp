#include "platform/linux/ChildProcess.h"

#include "platform/linux/FileDescriptor.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace Platform::Linux {

ChildProcess::Result ChildProcess::run(const std::vector<std::string>& arguments) {
    Result result;
    if (arguments.empty()) return result;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return result;
    FileDescriptor reading(ends[0]);
    FileDescriptor writing(ends[1]);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, writing.get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, writing.get(), STDERR_FILENO);
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return result;
    result.started = true;
    ::close(writing.release());
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(reading.get(), buffer, sizeof buffer);
        if (count > 0) {
            result.output.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            break;
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    return result;
}

} // namespace Platform::Linux
