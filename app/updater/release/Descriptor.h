#pragma once

#include <sys/stat.h>
#include <unistd.h>

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
    bool isRegularFile() const {
        struct stat info {};
        return fd_ >= 0 && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
    }

private:
    int fd_;
};

} // namespace Plovander
