#include "app/shell/ProcessStart.h"

#include "app/trace/TraceLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

namespace Plovander {
namespace {

// A handler rather than SIG_IGN: exec resets it, so the programs this one starts get the SIGPIPE
// they expect.
extern "C" void ignoreBrokenPipe(int) {}

} // namespace

void ProcessStart::prepare() {
    // In this order each open takes the lowest free descriptor, the one missing.
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
    struct sigaction action {};
    action.sa_handler = ignoreBrokenPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGPIPE, &action, nullptr);
    TraceLog::start();
}

int ProcessStart::tooFewOpenFiles(rlim_t openFiles) {
    // On standard error, where a service manager looks, trace or not.
    TraceLog::Configuration standardError;
    standardError.enabled = true;
    TraceLog::configure(standardError);
    TraceLog::message([&] {
        return "Plovander cannot run with " + std::to_string(openFiles) + " open files allowed: it needs " +
               std::to_string(leastOpenFiles);
    });
    TraceLog::flush();
    return EXIT_FAILURE;
}

} // namespace Plovander
