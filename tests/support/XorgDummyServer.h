#pragma once

#include "tests/support/DaemonProcess.h"
#include "tests/support/TemporaryDirectory.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace Testing {

// A private X server with several real monitors, for one test: Xorg with the dummy video driver,
// whose 16 RandR outputs each have a CRTC (and gamma) of their own. Its configuration and log are
// in a private folder; it picks a free display number itself (-displayfd), so servers start in
// parallel with each other and with Xvfb. The monitors are laid out left to right, the first one
// primary, each on its own output. The server is stopped and reaped on destruction.
class XorgDummyServer {
public:
    struct Monitor {
        int width = 1920;
        int height = 1080;
    };
    struct Options {
        std::vector<Monitor> monitors{Monitor{}};
    };

    // Xorg or its dummy driver is missing, or the server would not start here (it needs to run as
    // root to take a private configuration); the message says which. Tests skip on it.
    class Unavailable : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // Throws Unavailable, or std::runtime_error when the monitors cannot be set up.
    explicit XorgDummyServer(const Options& options);
    ~XorgDummyServer();
    XorgDummyServer(const XorgDummyServer&) = delete;
    XorgDummyServer& operator=(const XorgDummyServer&) = delete;

    // Such as ":3".
    const std::string& displayName() const { return displayName_; }
    // The server's log so far.
    std::string logText() const;

private:
    void arrangeMonitors(const std::vector<Monitor>& monitors) const;

    TemporaryDirectory folder_;
    std::unique_ptr<DaemonProcess> process_;
    std::string displayName_;
};

} // namespace Testing
