#pragma once

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

namespace Platform::Linux {

// Owns one open file descriptor and closes it when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// Throws std::system_error for `code`, saying what failed on which path.
[[noreturn]] inline void failOnPath(const std::string& what, const std::filesystem::path& path, int code = errno) {
    throw std::system_error(code, std::generic_category(), what + " " + path.string());
}

} // namespace Platform::Linux
