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

    // Ends the server at once, as a crash would, and reaps it.
    void kill();

private:
    void end(int signal);

    pid_t pid_ = -1;
    int pidFd_ = -1;
    std::string displayName_;
};

} // namespace Testing
