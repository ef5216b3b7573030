#pragma once

#include "tests/support/DaemonProcess.h"

#include <memory>
#include <string>

namespace Testing {

// A real system tray (trayer) on an X display: once made, the display's tray selection
// _NET_SYSTEM_TRAY_S0 has an owner, so tray icons can embed.
class SystemTray {
public:
    // Where the tray's panel runs along the screen, at its right end.
    enum class Edge { top, bottom };

    // Throws std::runtime_error when the tray does not take the selection within a few seconds.
    explicit SystemTray(const std::string& displayName, Edge edge = Edge::top);

private:
    std::unique_ptr<DaemonProcess> trayer_;
};

} // namespace Testing
