#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace Testing {

// A private virtual X server (Xvfb) for one test: it picks a free display number itself and
// reports it through a pipe, so servers start in parallel without sleeps or fixed numbers. The
// server is ended and reaped on destruction, and killed should the thread that started it die first
// (start it on the test's own thread).
class XvfbServer {
public:
    struct Options {
        int width = 1920;
        int height = 1080;
        // Extensions to switch off, such as "MIT-SHM" or "RANDR".
        std::vector<std::string> disabledExtensions;
    };

    // Throws std::runtime_error when the server does not come up.
    XvfbServer();
    explicit XvfbServer(const Options& options);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Such as ":7".
    const std::string& displayName() const { return displayName_; }

    // Ends the server at once, as a crash would, and reaps it. Its display name refuses connections
    // until this object goes, so a server started meanwhile by a test running alongside cannot take
    // it: whoever connects to this name afterwards meets no server.
    void kill();

private:
    void end(int signal);
    // Copies the server's listening sockets into this process (their names then outlive it).
    void holdListeners();
    // Makes the display name refuse connections once the server is gone.
    void shutHeldListeners();

    pid_t pid_ = -1;
    int pidFd_ = -1;
    std::string displayName_;
    std::vector<int> heldListeners_;
};

} // namespace Testing
