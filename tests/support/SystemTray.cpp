#include "tests/support/SystemTray.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>

#include <chrono>
#include <stdexcept>

namespace Testing {
namespace {

// Waits, on the server's own notification, until the tray selection has an owner.
bool waitForOwner(const std::string& displayName, std::chrono::milliseconds patience) {
    Display* display = XOpenDisplay(displayName.c_str());
    if (!display) return false;
    const Atom selection = XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False);
    int eventBase = 0;
    int errorBase = 0;
    bool owned = false;
    if (XFixesQueryExtension(display, &eventBase, &errorBase)) {
        XFixesSelectSelectionInput(display, DefaultRootWindow(display), selection, XFixesSetSelectionOwnerNotifyMask);
        XSync(display, False);
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (!(owned = XGetSelectionOwner(display, selection) != 0)) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd watched{ConnectionNumber(display), POLLIN, 0};
            if (XPending(display) == 0 && poll(&watched, 1, static_cast<int>(left.count())) <= 0) break;
            while (XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
            }
        }
    }
    XCloseDisplay(display);
    return owned;
}

} // namespace

SystemTray::SystemTray(const std::string& displayName, Edge edge)
    : trayer_(std::make_unique<DaemonProcess>(
          DaemonProcess::Launch{.program = "trayer",
                                .arguments = {"--edge", edge == Edge::top ? "top" : "bottom", "--align", "right",
                                              "--widthtype", "request", "--height", "24", "--SetDockType", "true"},
                                .environment = {"DISPLAY=" + displayName},
                                .log = {},
                                .confinedToLoopback = false})) {
    if (!waitForOwner(displayName, std::chrono::seconds(10))) throw std::runtime_error("trayer took no tray selection");
}

} // namespace Testing
