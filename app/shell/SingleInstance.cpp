#include "app/shell/SingleInstance.h"

#include "platform/UserFolders.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>
#include <system_error>
#include <utility>

namespace Plovander {
namespace {

pid_t readPid(int fd) {
    char buffer[32] = {};
    const ssize_t count = ::pread(fd, buffer, sizeof buffer - 1, 0);
    if (count <= 0) return 0;
    pid_t pid = 0;
    std::from_chars(buffer, buffer + count, pid);
    return pid;
}

} // namespace

std::filesystem::path SingleInstance::defaultLockFile() { return Platform::UserFolders::runtime() / "plovander.lock"; }

std::variant<SingleInstance, pid_t> SingleInstance::acquire(const std::filesystem::path& lockFile,
                                                            std::optional<pid_t> ignoring) {
    Platform::UserFolders::ensurePrivate(lockFile.parent_path());
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "could not open " + lockFile.string());
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const pid_t holder = readPid(fd);
        ::close(fd);
        // A predecessor that outlived its wait still holds the lock; it is on its way out.
        if (ignoring && holder == *ignoring) return SingleInstance(-1);
        return holder;
    }
    // The lock is ours even when the id cannot be written; another copy then reports pid 0.
    const std::string pid = std::to_string(::getpid());
    [[maybe_unused]] const bool recorded =
        ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
    return SingleInstance(fd);
}

SingleInstance::SingleInstance(SingleInstance&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

SingleInstance::~SingleInstance() {
    if (fd_ >= 0) ::close(fd_);
}

} // namespace Plovander
