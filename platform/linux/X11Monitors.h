#pragma once

#include "platform/ShareableDisplay.h"
#include "platform/linux/X11Connection.h"

#include <cstdint>
#include <vector>

namespace Platform::Linux {

// The monitors of the connection's X screen as shareable displays, in the server's order.
//
// A monitor's ID is its first RandR output's XID; a monitor without outputs takes its name atom
// with the top bit set (XIDs and atoms stay below 2^29, so the two kinds never meet). A screen
// without RandR 1.5 or without active monitors is one display covering the root window, whose XID
// is its ID. The main display is the primary monitor, else the first one.
struct X11Monitors {
    static constexpr std::uint32_t outputlessIDBit = 0x8000'0000;

    // Call inside an X11ErrorTrap. Throws X11Error when the connection is broken.
    static std::vector<ShareableDisplay> list(X11Connection& connection);
};

} // namespace Platform::Linux
