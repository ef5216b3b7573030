#include "app/shell/SingleInstance.h"

#include "platform/UserFolders.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
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

// Takes the lock if it is free and writes this process's id in the file.
bool take(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
    // The lock is ours even when the id cannot be written; another copy then reports pid 0.
    const std::string pid = std::to_string(::getpid());
    [[maybe_unused]] const bool recorded =
        ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
    return true;
}

} // namespace

std::filesystem::path SingleInstance::defaultLockFile() { return Platform::UserFolders::runtime() / "plovander.lock"; }

std::variant<SingleInstance, pid_t> SingleInstance::acquire(const std::filesystem::path& lockFile,
                                                            std::optional<pid_t> predecessor, TakenFirst takenFirst) {
    Platform::UserFolders::ensurePrivate(lockFile.parent_path());
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "could not open " + lockFile.string());
    SingleInstance instance(fd);
    if (take(fd)) return instance;
    const pid_t holder = readPid(fd);
    if (!predecessor || holder != *predecessor) return holder;
    // A predecessor that outlived its wait is on its way out; a later copy must still find the lock held.
    if (instance.takeWhenEnded(holder, std::move(takenFirst))) return instance;
    return readPid(fd);
}

SingleInstance::SingleInstance(int fd) : fd_(fd) {}

bool SingleInstance::takeWhenEnded(pid_t pid, TakenFirst takenFirst) {
    ended_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    // Already gone, and its lock with it, unless a copy started meanwhile was quicker.
    if (ended_ < 0) return take(fd_);
    // A process's locks are released before its pidfd turns readable.
    watch_ = std::make_unique<QSocketNotifier>(ended_, QSocketNotifier::Read);
    QObject::connect(watch_.get(), &QSocketNotifier::activated, watch_.get(),
                     [fd = fd_, watch = watch_.get(), takenFirst = std::move(takenFirst)] {
                         watch->setEnabled(false);
                         // A copy started while this one was busy may have found the lock free.
                         if (!take(fd) && takenFirst) takenFirst(readPid(fd));
                     });
    return true;
}

SingleInstance::SingleInstance(SingleInstance&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), ended_(std::exchange(other.ended_, -1)), watch_(std::move(other.watch_)) {}

SingleInstance::~SingleInstance() {
    watch_.reset();
    if (ended_ >= 0) ::close(ended_);
    if (fd_ >= 0) ::close(fd_);
}

} // namespace Plovander
