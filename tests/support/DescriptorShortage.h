#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace Testing {

// Takes every descriptor left under a lowered limit but `left` of them, until it goes.
class DescriptorShortage {
public:
    explicit DescriptorShortage(std::size_t left = 0) {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = std::min<rlim_t>(saved_.rlim_cur, 512);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd; (fd = ::dup(STDERR_FILENO)) >= 0;) taken_.push_back(fd);
        for (; left > 0 && !taken_.empty(); --left) {
            ::close(taken_.back());
            taken_.pop_back();
        }
    }
    ~DescriptorShortage() {
        for (const int fd : taken_) ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &saved_);
    }
    DescriptorShortage(const DescriptorShortage&) = delete;
    DescriptorShortage& operator=(const DescriptorShortage&) = delete;

private:
    rlimit saved_{};
    std::vector<int> taken_;
};

} // namespace Testing
