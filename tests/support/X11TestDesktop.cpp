#include "tests/support/X11TestDesktop.h"

#include "platform/linux/X11ErrorTrap.h"
#include "platform/linux/X11Owned.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace Testing {

using Platform::Linux::X11Error;
using Platform::Linux::X11ErrorTrap;
using Platform::Linux::X11Owned;

X11TestDesktop::X11TestDesktop(const std::string& displayName)
    : connection_(Platform::Linux::X11Connection::open(displayName)) {}

X11TestDesktop::~X11TestDesktop() {
    X11ErrorTrap trap(connection_->display());
    for (const ::Window window : windows_) XDestroyWindow(connection_->display(), window);
}

void X11TestDesktop::sync() {
    X11ErrorTrap trap(connection_->display());
    if (!trap.sync()) throw X11Error("test desktop: " + trap.errorText());
}

::Window X11TestDesktop::showWindow(const Bounds& bounds, std::uint32_t rgb) {
    ::Display* display = connection_->display();
    X11ErrorTrap trap(display);
    XSetWindowAttributes attributes{};
    // Override-redirect: mapped at once and where asked, as there is no window manager.
    attributes.override_redirect = True;
    attributes.background_pixel = rgb;
    const ::Window window =
        XCreateWindow(display, connection_->root(), bounds.x, bounds.y, static_cast<unsigned>(bounds.width),
                      static_cast<unsigned>(bounds.height), 0, CopyFromParent, InputOutput, nullptr,
                      CWOverrideRedirect | CWBackPixel, &attributes);
    windows_.push_back(window);
    XMapRaised(display, window);
    if (!trap.sync()) throw X11Error("test desktop: cannot show a window: " + trap.errorText());
    return window;
}

void X11TestDesktop::fill(::Window window, const Bounds& bounds, std::uint32_t rgb) {
    ::Display* display = connection_->display();
    {
        X11ErrorTrap trap(display);
        const GC gc = XCreateGC(display, window, 0, nullptr);
        XSetForeground(display, gc, rgb);
        XFillRectangle(display, window, gc, bounds.x, bounds.y, static_cast<unsigned>(bounds.width),
                       static_cast<unsigned>(bounds.height));
        XFreeGC(display, gc);
    }
    sync();
}

void X11TestDesktop::movePointer(int x, int y) {
    XWarpPointer(connection_->display(), None, connection_->root(), 0, 0, 0, 0, x, y);
    sync();
}

unsigned long X11TestDesktop::firstOutput() {
    X11ErrorTrap trap(connection_->display());
    const X11Owned<XRRScreenResources> resources(
        XRRGetScreenResourcesCurrent(connection_->display(), connection_->root()));
    if (!resources || resources->noutput < 1) throw X11Error("test desktop: the screen has no RandR output");
    return resources->outputs[0];
}

void X11TestDesktop::addMonitor(const std::string& name, const Bounds& bounds, bool primary, bool onFirstOutput) {
    const unsigned long output = onFirstOutput ? firstOutput() : 0;
    ::Display* display = connection_->display();
    {
        X11ErrorTrap trap(display);
        const Atom atom = XInternAtom(display, name.c_str(), False);
        // The server keeps an existing monitor of the same name as it was, so replace it by hand,
        // with the server held so that nobody sees it missing in between.
        XGrabServer(display);
        int count = 0;
        const X11Owned<XRRMonitorInfo> existing(XRRGetMonitors(display, connection_->root(), False, &count));
        for (int i = 0; existing && i < count; ++i) {
            if (existing.get()[i].name == atom) XRRDeleteMonitor(display, connection_->root(), atom);
        }
        const X11Owned<XRRMonitorInfo> monitor(XRRAllocateMonitor(display, onFirstOutput ? 1 : 0));
        monitor->name = atom;
        monitor->primary = primary;
        monitor->automatic = False;
        monitor->x = bounds.x;
        monitor->y = bounds.y;
        monitor->width = bounds.width;
        monitor->height = bounds.height;
        // About 96 dots per inch.
        monitor->mwidth = bounds.width * 254 / 960;
        monitor->mheight = bounds.height * 254 / 960;
        if (onFirstOutput) monitor->outputs[0] = output;
        XRRSetMonitor(display, connection_->root(), monitor.get());
        XUngrabServer(display);
    }
    sync();
}

void X11TestDesktop::removeMonitor(const std::string& name) {
    ::Display* display = connection_->display();
    {
        X11ErrorTrap trap(display);
        XRRDeleteMonitor(display, connection_->root(), XInternAtom(display, name.c_str(), False));
    }
    sync();
}

void X11TestDesktop::setEdid(unsigned long output, const std::vector<std::uint8_t>& edid) {
    ::Display* display = connection_->display();
    {
        X11ErrorTrap trap(display);
        XRRChangeOutputProperty(display, output, XInternAtom(display, RR_PROPERTY_RANDR_EDID, False), XA_INTEGER, 8,
                                PropModeReplace, edid.data(), static_cast<int>(edid.size()));
    }
    sync();
}

std::vector<std::uint8_t> X11TestDesktop::edidNamed(const std::string& monitorName) {
    if (monitorName.size() > 13) throw std::invalid_argument("an EDID monitor name has at most 13 characters");
    std::vector<std::uint8_t> edid(128, 0);
    const std::uint8_t header[] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    std::copy(std::begin(header), std::end(header), edid.begin());
    edid[18] = 1; // version 1.4
    edid[19] = 4;
    // First descriptor: a detailed timing (non-zero pixel clock), which is not a name.
    edid[54] = 0x3a;
    edid[55] = 0x02;
    // Second descriptor: the monitor name, ended by a line feed and padded with spaces.
    edid[72 + 3] = 0xfc;
    for (std::size_t i = 0; i < 13; ++i) {
        edid[72 + 5 + i] = i < monitorName.size()    ? static_cast<std::uint8_t>(monitorName[i])
                           : i == monitorName.size() ? 0x0a
                                                     : 0x20;
    }
    // Third and fourth: dummy descriptors.
    edid[90 + 3] = 0x10;
    edid[108 + 3] = 0x10;
    fixEdidChecksum(edid);
    return edid;
}

void X11TestDesktop::fixEdidChecksum(std::vector<std::uint8_t>& edid) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < 127; ++i) sum += edid[i];
    edid[127] = static_cast<std::uint8_t>((256 - sum % 256) % 256);
}

std::uint32_t X11TestDesktop::pixelAt(int x, int y) {
    X11ErrorTrap trap(connection_->display());
    XImage* image = XGetImage(connection_->display(), connection_->root(), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) throw X11Error("test desktop: cannot read a pixel: " + trap.errorText());
    const auto pixel = static_cast<std::uint32_t>(XGetPixel(image, 0, 0)) & 0xffffff;
    XDestroyImage(image);
    return pixel;
}

} // namespace Testing
