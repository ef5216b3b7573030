#include "tests/support/PrivateMount.h"

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace Testing {

PrivateMount::PrivateMount(const char* source, const std::filesystem::path& at, const char* type, unsigned long flags,
                           const std::string& options)
    : at(at) {
    thread_local const bool ownNamespace =
        ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    if (!ownNamespace || ::mount(source, at.c_str(), type, flags, options.c_str()) != 0) {
        problem = std::string("mount: ") + std::strerror(errno);
    }
}

PrivateMount::~PrivateMount() {
    if (!problem) ::umount2(at.c_str(), MNT_DETACH);
}

} // namespace Testing
