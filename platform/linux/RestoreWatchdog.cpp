#include "platform/linux/RestoreWatchdog.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <system_error>

extern char** environ;

namespace Platform::Linux {
namespace {

void appendRamp(std::ostringstream& line, const std::vector<float>& ramp) {
    line << ' ' << ramp.size();
    for (const float level : ramp) line << ' ' << level;
}

} // namespace

std::filesystem::path RestoreWatchdog::program() {
    std::error_code error;
    const auto beside = std::filesystem::read_symlink("/proc/self/exe", error).parent_path() / "plovander-watchdog";
    if (!error && std::filesystem::exists(beside, error)) return beside;
    return PLOVANDER_WATCHDOG_PROGRAM;
}

RestoreWatchdog::~RestoreWatchdog() {
    forget();
    stop();
}

bool RestoreWatchdog::guardRamps(std::uint32_t displayID, const Gamma::Ramps& ramps) {
    std::ostringstream line;
    line.imbue(std::locale::classic());
    line << "ramps " << displayID;
    appendRamp(line, ramps.red);
    appendRamp(line, ramps.green);
    appendRamp(line, ramps.blue);
    return send(line.str());
}

bool RestoreWatchdog::guardAttachment(int device, int master) {
    return send("attach " + std::to_string(device) + " " + std::to_string(master));
}

void RestoreWatchdog::forget() {
    if (pipe_ >= 0) send("forget");
}

bool RestoreWatchdog::send(const std::string& line) {
    if (pipe_ < 0) {
        int ends[2];
        // A socket rather than a pipe: writing to a dead watchdog then fails instead of raising SIGPIPE.
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, ends[0], STDIN_FILENO);
        // Its own session: a signal to our process group (Ctrl+C) must not end it first.
        posix_spawnattr_t attributes;
        ::posix_spawnattr_init(&attributes);
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        const std::string path = program().string();
        std::vector<char*> argv = {const_cast<char*>(path.c_str()), const_cast<char*>(displayName_.c_str()), nullptr};
        const int spawned = ::posix_spawn(&pid_, path.c_str(), &actions, &attributes, argv.data(), environ);
        ::posix_spawnattr_destroy(&attributes);
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(ends[0]);
        if (spawned != 0) {
            ::close(ends[1]);
            pid_ = -1;
            return false;
        }
        pipe_ = ends[1];
    }
    const std::string text = line + "\n";
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::send(pipe_, text.data() + written, text.size() - written, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        written += static_cast<std::size_t>(count);
    }
    return true;
}

void RestoreWatchdog::stop() {
    if (pipe_ < 0) return;
    ::close(pipe_);
    pipe_ = -1;
    // It ends at once on the stream's end.
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

} // namespace Platform::Linux
