#include "tests/support/PrivateMount.h"

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace Testing {

namespace {

// Once per thread: its own mount namespace, its mounts made private.
std::optional<std::string> ownNamespace() {
    thread_local const std::optional<std::string> problem = []() -> std::optional<std::string> {
        if (::unshare(CLONE_NEWNS) != 0) return std::string("unshare: ") + std::strerror(errno);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return std::string("private mounts: ") + std::strerror(errno);
        }
        return std::nullopt;
    }();
    return problem;
}

} // namespace

PrivateMount::PrivateMount(const std::filesystem::path& at, const char* source, const char* type, unsigned long flags,
                           const std::string& options)
    : problem_(ownNamespace()) {
    if (problem_) return;
    if (::mount(source, at.c_str(), type, flags, options.c_str()) != 0) {
        problem_ = std::string("mount: ") + std::strerror(errno);
        return;
    }
    at_ = at;
}

PrivateMount::PrivateMount(const std::filesystem::path& at, std::size_t bytes)
    : PrivateMount(at, "tmpfs", "tmpfs", 0, "mode=0777,size=" + std::to_string(bytes)) {}

PrivateMount::PrivateMount(const std::filesystem::path& source, const std::filesystem::path& at)
    : PrivateMount(at, source.c_str(), nullptr, MS_BIND, {}) {}

PrivateMount::~PrivateMount() {
    if (!at_.empty()) ::umount2(at_.c_str(), MNT_DETACH);
}

} // namespace Testing
