#include "tests/support/SilentBus.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace Testing {

SilentBus::SilentBus() {
    const std::string path = (folder_ / "bus").string();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) throw std::system_error(ENAMETOOLONG, std::generic_category(), path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, SOMAXCONN) != 0) {
        const int code = errno;
        if (fd_ >= 0) ::close(fd_);
        throw std::system_error(code, std::generic_category(), "silent bus at " + path);
    }
}

SilentBus::~SilentBus() { ::close(fd_); }

std::string SilentBus::address() const { return "unix:path=" + (folder_ / "bus").string(); }

bool SilentBus::awaitCaller(std::chrono::milliseconds patience) const {
    // A connection waiting in the backlog makes the listening socket readable.
    pollfd listening{fd_, POLLIN, 0};
    return ::poll(&listening, 1, static_cast<int>(patience.count())) == 1;
}

} // namespace Testing
