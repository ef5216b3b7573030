#include "tests/support/ProgramHome.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <set>

extern char** environ;

namespace Testing {

namespace fs = std::filesystem;

ProgramHome::ProgramHome(const fs::path& folder)
    : home(folder / "home"), runtime(folder / "run"), trace(folder / "trace.log") {
    fs::create_directories(home / ".config/tessaloy");
    std::ofstream(home / ".config/tessaloy/plovander.conf") << "[General]\nTessaloyConnect=false\n";
    fs::create_directories(runtime / "tessaloy");
    fs::permissions(runtime, fs::perms::owner_all);
}

pid_t ProgramHome::start(const std::vector<std::string>& arguments, const std::string& display,
                         const std::vector<std::string>& settings, const posix_spawn_file_actions_t* actions) const {
    std::vector<std::string> variables = settings;
    for (const std::string& setting : std::initializer_list<std::string>{
             "DISPLAY=" + display, "HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / ".config").string(),
             "XDG_DATA_HOME=" + (home / ".local/share").string(), "XDG_STATE_HOME=" + (home / ".local/state").string(),
             "XDG_CACHE_HOME=" + (home / ".cache").string(), "XDG_RUNTIME_DIR=" + runtime.string(),
             "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (runtime / "no-bus").string(), "TESSALOY_TRACE=1",
             "TESSALOY_TRACE_FILE=" + trace.string(),
             // A program that quits soon after its start may still have a task suspended.
             std::string("ASAN_OPTIONS=detect_leaks=0"), std::string("QT_QPA_PLATFORM=xcb")}) {
        variables.push_back(setting);
    }
    for (char** entry = environ; *entry; ++entry) variables.emplace_back(*entry);
    // Each name once, as it first comes: a shell in between would take the last.
    std::set<std::string> names;
    std::vector<char*> environment;
    for (auto& variable : variables) {
        if (names.insert(variable.substr(0, variable.find('='))).second) environment.push_back(variable.data());
    }
    environment.push_back(nullptr);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    return ::posix_spawn(&pid, argv[0], actions, nullptr, argv.data(), environment.data()) == 0 ? pid : -1;
}

std::optional<int> waitForExit(pid_t pid, bool child, std::chrono::milliseconds patience) {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) return errno == ESRCH ? std::optional(0) : std::nullopt;
    pollfd ready{fd, POLLIN, 0};
    const bool ended = ::poll(&ready, 1, static_cast<int>(patience.count())) == 1;
    ::close(fd);
    int status = 0;
    if (ended && child) ::waitpid(pid, &status, 0);
    return ended ? std::optional(status) : std::nullopt;
}

bool untilWritten(const fs::path& folder, const std::function<bool()>& done, std::chrono::milliseconds patience) {
    const int fd = ::inotify_init1(IN_CLOEXEC);
    ::inotify_add_watch(fd, folder.c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO);
    const auto deadline = std::chrono::steady_clock::now() + patience;
    bool held = done();
    while (!held && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 1'000) == 1) {
            char events[4096];
            [[maybe_unused]] const auto ignored = ::read(fd, events, sizeof events);
        }
        held = done();
    }
    ::close(fd);
    return held;
}

} // namespace Testing
