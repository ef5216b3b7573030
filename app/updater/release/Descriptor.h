#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <utility>

namespace Plovander {

// Owns one file descriptor, or -1, and closes it when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    // Hands the descriptor over to the caller, who closes it.
    int release() { return std::exchange(fd_, -1); }
    // The size of the regular file it holds; nullopt for anything else.
    std::optional<std::uintmax_t> regularFileSize() const {
        struct stat info {};
        if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
        return static_cast<std::uintmax_t>(info.st_size);
    }

private:
    int fd_;
};

} // namespace Plovander
