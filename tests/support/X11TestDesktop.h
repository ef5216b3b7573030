#pragma once

#include "platform/ShareableDisplay.h"
#include "platform/linux/X11Connection.h"

#include <X11/Xlib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Testing {

// Draws on a test X server and rearranges it, over a connection of its own: windows filled with
// known colours, the pointer's position, RandR monitors and a monitor's EDID. Every call waits
// until the server has carried it out, so a capture that looks next sees its effect.
class X11TestDesktop {
public:
    using Bounds = Platform::ShareableDisplay::Bounds;

    // Throws X11Error when no server answers.
    explicit X11TestDesktop(const std::string& displayName);
    ~X11TestDesktop();

    Platform::Linux::X11Connection& connection() { return *connection_; }

    // A mapped window over `bounds` (root coordinates) filled with `rgb` (0xRRGGBB), above the ones
    // shown before.
    ::Window showWindow(const Bounds& bounds, std::uint32_t rgb);
    // Fills `bounds` (window coordinates) of `window`.
    void fill(::Window window, const Bounds& bounds, std::uint32_t rgb);
    void movePointer(int x, int y);

    // The first RandR output of the screen (Xvfb has exactly one).
    unsigned long firstOutput();
    // Adds (or replaces) a RandR monitor; with `onFirstOutput` it takes over the first output.
    void addMonitor(const std::string& name, const Bounds& bounds, bool primary, bool onFirstOutput);
    void removeMonitor(const std::string& name);
    void setEdid(unsigned long output, const std::vector<std::uint8_t>& edid);

    // A valid 128-byte EDID base block whose monitor-name descriptor (the second descriptor, after
    // a detailed timing) holds `monitorName` (at most 13 characters).
    static std::vector<std::uint8_t> edidNamed(const std::string& monitorName);
    // Makes the base block's checksum right again after an edit.
    static void fixEdidChecksum(std::vector<std::uint8_t>& edid);

    // The pixel at (x, y) of the root window as 0xRRGGBB, read directly from the server.
    std::uint32_t pixelAt(int x, int y);

private:
    void sync();

    std::unique_ptr<Platform::Linux::X11Connection> connection_;
    std::vector<::Window> windows_;
};

} // namespace Testing
