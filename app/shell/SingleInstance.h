#pragma once

#include <sys/types.h>
#include <filesystem>
#include <optional>
#include <variant>

namespace Plovander {

// One running copy per user: the copy that holds an exclusive lock on a file in the user's runtime
// folder, with its process id written in the file. The lock goes with the process, however it ends.
class SingleInstance {
public:
    // $XDG_RUNTIME_DIR/tessaloy/plovander.lock
    static std::filesystem::path defaultLockFile();

    // Takes the lock. When another copy holds it, returns that copy's process id (0 when it cannot
    // be read) and holds nothing; `ignoring` (a predecessor being replaced) never counts as
    // another copy. Throws std::system_error when the lock file cannot be opened at all.
    [[nodiscard]] static std::variant<SingleInstance, pid_t> acquire(const std::filesystem::path& lockFile,
                                                                     std::optional<pid_t> ignoring = std::nullopt);

    SingleInstance(SingleInstance&& other) noexcept;
    SingleInstance& operator=(SingleInstance&&) = delete;
    ~SingleInstance();

private:
    explicit SingleInstance(int fd) : fd_(fd) {}

    int fd_;
};

} // namespace Plovander
