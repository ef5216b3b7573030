#include "tests/support/SilentBus.h"

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
    listening_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listening_ < 0 || ::bind(listening_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listening_, SOMAXCONN) != 0) {
        const int code = errno;
        if (listening_ >= 0) ::close(listening_);
        throw std::system_error(code, std::generic_category(), "silent bus at " + path);
    }
    acceptor_ = std::thread([this] { accept(); });
}

SilentBus::~SilentBus() {
    // Wakes the acceptor: accept() fails once the socket is shut down.
    ::shutdown(listening_, SHUT_RDWR);
    acceptor_.join();
    ::close(listening_);
    for (const int caller : callers_) ::close(caller);
}

void SilentBus::accept() {
    for (;;) {
        const int caller = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
        if (caller < 0 && errno == EINTR) continue;
        if (caller < 0) return;
        {
            std::lock_guard guard(lock_);
            callers_.push_back(caller);
        }
        called_.notify_all();
    }
}

bool SilentBus::awaitCallers(std::size_t count, std::chrono::milliseconds patience) {
    std::unique_lock guard(lock_);
    return called_.wait_for(guard, patience, [&] { return callers_.size() >= count; });
}

std::string SilentBus::address() const { return "unix:path=" + (folder_ / "bus").string(); }

} // namespace Testing
