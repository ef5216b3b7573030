#pragma once

#include <sys/types.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

class QSocketNotifier;

namespace Plovander {

// One running copy per user: the copy that holds an exclusive lock on a file in the user's runtime
// folder, with its process id written in the file. The lock goes with the process, however it ends.
class SingleInstance {
public:
    // $XDG_RUNTIME_DIR/tessaloy/plovander.lock
    static std::filesystem::path defaultLockFile();

    // Told, on the main thread's event loop, of a copy that took the lock as the predecessor ended,
    // with its process id (0 when it cannot be read): this copy then holds nothing.
    using TakenFirst = std::function<void(pid_t)>;

    // Takes the lock. When another copy holds it, returns that copy's process id (0 when it cannot
    // be read) and holds nothing. `predecessor` (a copy being replaced) never counts as another
    // copy: while it still holds the lock, the lock is taken on the main thread's event loop as
    // soon as that process has ended, unless a copy started meanwhile is quicker (`takenFirst`).
    // Throws std::system_error when the lock file cannot be opened.
    [[nodiscard]] static std::variant<SingleInstance, pid_t> acquire(const std::filesystem::path& lockFile,
                                                                     std::optional<pid_t> predecessor = std::nullopt,
                                                                     TakenFirst takenFirst = {});

    SingleInstance(SingleInstance&& other) noexcept;
    SingleInstance& operator=(SingleInstance&&) = delete;
    ~SingleInstance();

private:
    explicit SingleInstance(int fd);
    // False when `pid` has already ended and another copy took the lock.
    bool takeWhenEnded(pid_t pid, TakenFirst takenFirst);

    int fd_;
    int ended_ = -1; // turns readable when the predecessor has ended
    std::unique_ptr<QSocketNotifier> watch_;
};

} // namespace Plovander
