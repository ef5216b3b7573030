#pragma once

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <vector>

namespace Bench {

// A program run beside the benchmark, on cores of its own, with its standard output read through a
// pipe (its errors go to the benchmark's). It is killed should the benchmark die, and killed and
// reaped on destruction unless finish() reaped it.
class ChildProgram {
public:
    ChildProgram(const std::vector<std::string>& arguments, const cpu_set_t& cores) {
        std::vector<char*> argv;
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        int output[2];
        if (pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("no pipe for " + arguments.front());
        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls from here on.
            sched_setaffinity(0, sizeof cores, &cores);
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            dup2(output[1], STDOUT_FILENO);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(output[1]);
        output_ = output[0];
        if (pid_ < 0) throw std::runtime_error("cannot start " + arguments.front());
    }
    ~ChildProgram() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) close(output_);
    }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // Whether it has ended, without waiting for it.
    bool hasEnded() {
        if (pid_ <= 0) return true;
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
    }

    struct Ending {
        int exitStatus = -1; // -1 unless it exited normally
        double cpuSeconds = 0;
        std::string output;
    };
    // Reads its output to the end and waits for it.
    Ending finish() {
        Ending ending;
        char buffer[65'536];
        for (ssize_t got; (got = read(output_, buffer, sizeof buffer)) != 0;) {
            if (got > 0) ending.output.append(buffer, static_cast<std::size_t>(got));
            if (got < 0 && errno != EINTR) break;
        }
        int status = 0;
        rusage usage{};
        if (wait4(pid_, &status, 0, &usage) == pid_) {
            pid_ = -1;
            if (WIFEXITED(status)) ending.exitStatus = WEXITSTATUS(status);
            const auto seconds = [](const timeval& time) {
                return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
            };
            ending.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
        }
        return ending;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
};

} // namespace Bench
