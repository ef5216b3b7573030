#include "platform/linux/X11Monitors.h"

#include "platform/linux/Edid.h"
#include "platform/linux/X11Owned.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xrandr.h>

#include <optional>
#include <span>
#include <string>

namespace Platform::Linux {
namespace {

bool hasMonitors(X11Connection& connection) {
    if (!connection.hasExtension("RANDR")) return false;
    ::Display* display = connection.display();
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    return XRRQueryExtension(display, &eventBase, &errorBase) && XRRQueryVersion(display, &major, &minor) &&
           (major > 1 || (major == 1 && minor >= 5));
}

std::optional<std::string> edidName(::Display* display, RROutput output) {
    const Atom edid = XInternAtom(display, RR_PROPERTY_RANDR_EDID, True);
    if (edid == None) return std::nullopt;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const int status = XRRGetOutputProperty(display, output, edid, 0, 256, False, False, AnyPropertyType, &type,
                                            &format, &count, &remaining, &data);
    const X11Owned<unsigned char> owned(data);
    if (status != Success || !data || format != 8) return std::nullopt;
    return Edid::monitorName(std::span<const std::uint8_t>(data, count));
}

std::optional<std::string> outputName(::Display* display, XRRScreenResources* resources, RROutput output) {
    if (!resources) return std::nullopt;
    const X11Owned<XRROutputInfo> info(XRRGetOutputInfo(display, resources, output));
    if (!info || info->nameLen <= 0) return std::nullopt;
    return std::string(info->name, static_cast<std::size_t>(info->nameLen));
}

std::string fallbackName(std::uint32_t displayID) { return "Display " + std::to_string(displayID); }

ShareableDisplay wholeScreen(X11Connection& connection) {
    ::Display* display = connection.display();
    const int width = XDisplayWidth(display, connection.screen());
    const int height = XDisplayHeight(display, connection.screen());
    const auto id = static_cast<std::uint32_t>(connection.root());
    return {.displayID = id,
            .width = width,
            .height = height,
            .isMain = true,
            .bounds = {0, 0, width, height},
            .name = fallbackName(id)};
}

} // namespace

std::vector<ShareableDisplay> X11Monitors::list(X11Connection& connection) {
    ::Display* display = connection.display();
    std::vector<ShareableDisplay> displays;
    if (hasMonitors(connection)) {
        int count = 0;
        const X11Owned<XRRMonitorInfo> monitors(XRRGetMonitors(display, connection.root(), True, &count));
        const X11Owned<XRRScreenResources> resources(
            monitors && count > 0 ? XRRGetScreenResourcesCurrent(display, connection.root()) : nullptr);
        bool anyPrimary = false;
        for (int i = 0; monitors && i < count; ++i) {
            const XRRMonitorInfo& monitor = monitors.get()[i];
            ShareableDisplay entry{.width = monitor.width,
                                   .height = monitor.height,
                                   .isMain = monitor.primary != 0 && !anyPrimary,
                                   .bounds = {monitor.x, monitor.y, monitor.width, monitor.height},
                                   .name = {}};
            anyPrimary = anyPrimary || entry.isMain;
            if (monitor.noutput > 0) {
                const RROutput output = monitor.outputs[0];
                entry.displayID = static_cast<std::uint32_t>(output);
                auto name = edidName(display, output);
                if (!name) name = outputName(display, resources.get(), output);
                entry.name = name.value_or(fallbackName(entry.displayID));
            } else {
                entry.displayID = outputlessIDBit | static_cast<std::uint32_t>(monitor.name);
                entry.name = fallbackName(entry.displayID);
            }
            displays.push_back(std::move(entry));
        }
        if (!displays.empty() && !anyPrimary) displays.front().isMain = true;
    }
    if (connection.isBroken()) throw X11Error("lost the connection to the X server \"" + connection.name() + "\"");
    if (displays.empty()) displays.push_back(wholeScreen(connection));
    return displays;
}

} // namespace Platform::Linux
