#include "tests/support/XorgDummyServer.h"

#include "platform/linux/X11Connection.h"
#include "platform/linux/X11ErrorTrap.h"
#include "platform/linux/X11Owned.h"

#include <X11/extensions/Xrandr.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

namespace Testing {
namespace {

using namespace std::chrono_literals;
using Platform::Linux::X11Owned;

constexpr auto startPatience = 20s;
const char* const dummyDriver = "/usr/lib/xorg/modules/drivers/dummy_drv.so";

std::string configuration(const std::vector<XorgDummyServer::Monitor>& monitors) {
    int width = 0;
    int height = 0;
    for (const auto& monitor : monitors) {
        width += monitor.width;
        height = std::max(height, monitor.height);
    }
    std::ostringstream text;
    // No input devices and no hot-plugging: the server must not touch the machine's own devices.
    text << "Section \"ServerFlags\"\n  Option \"AutoAddDevices\" \"false\"\n  Option \"AutoAddGPU\" \"false\"\n"
         << "  Option \"DontVTSwitch\" \"true\"\nEndSection\n"
         << "Section \"Device\"\n  Identifier \"dummy\"\n  Driver \"dummy\"\n  VideoRam 256000\nEndSection\n"
         << "Section \"Monitor\"\n  Identifier \"monitor\"\n  HorizSync 5.0-1000.0\n  VertRefresh 5.0-200.0\n"
         << "EndSection\n"
         << "Section \"Screen\"\n  Identifier \"screen\"\n  Device \"dummy\"\n  Monitor \"monitor\"\n"
         << "  DefaultDepth 24\n  SubSection \"Display\"\n    Depth 24\n    Virtual " << std::max(width, 64) << " "
         << std::max(height, 64) << "\n  EndSubSection\nEndSection\n";
    return text.str();
}

// Reads the display number that the server writes into `fifo` once it accepts connections.
std::string readDisplayNumber(int fifo, DaemonProcess& process) {
    const auto deadline = std::chrono::steady_clock::now() + startPatience;
    std::string text;
    while (text.find('\n') == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return {};
        pollfd ready{.fd = fifo, .events = POLLIN, .revents = 0};
        const int polled = ::poll(&ready, 1, 100);
        if (polled == 0) {
            if (!process.isRunning()) return {};
            continue;
        }
        if (polled < 0 && errno == EINTR) continue;
        char buffer[32];
        const ssize_t count = ::read(fifo, buffer, sizeof buffer);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) return {}; // the server went before it was ready
        text.append(buffer, static_cast<std::size_t>(count));
    }
    return text.substr(0, text.find('\n'));
}

RRMode findOrCreateMode(::Display* display, ::Window root, XRRScreenResources& resources,
                        const XorgDummyServer::Monitor& monitor) {
    for (int i = 0; i < resources.nmode; ++i) {
        const XRRModeInfo& mode = resources.modes[i];
        if (static_cast<int>(mode.width) == monitor.width && static_cast<int>(mode.height) == monitor.height) {
            return mode.id;
        }
    }
    std::string name = std::to_string(monitor.width) + "x" + std::to_string(monitor.height) + "_test";
    XRRModeInfo info{};
    info.width = static_cast<unsigned>(monitor.width);
    info.height = static_cast<unsigned>(monitor.height);
    info.hSyncStart = info.width + 48;
    info.hSyncEnd = info.width + 80;
    info.hTotal = info.width + 160;
    info.vSyncStart = info.height + 3;
    info.vSyncEnd = info.height + 8;
    info.vTotal = info.height + 21;
    info.dotClock = static_cast<unsigned long>(info.hTotal) * info.vTotal * 60;
    info.name = name.data();
    info.nameLength = static_cast<unsigned>(name.size());
    return XRRCreateMode(display, root, &info);
}

} // namespace

XorgDummyServer::XorgDummyServer(const Options& options) {
    if (::geteuid() != 0) throw Unavailable("Xorg takes a private configuration only when run as root");
    if (::access(dummyDriver, R_OK) != 0) throw Unavailable("the dummy video driver is not installed");
    if (options.monitors.empty()) throw std::runtime_error("a server needs at least one monitor");
    const auto config = folder_ / "xorg.conf";
    std::ofstream(config) << configuration(options.monitors);
    std::filesystem::create_directory(folder_ / "xorg.conf.d");
    const auto fifoPath = folder_ / "displayfd";
    if (::mkfifo(fifoPath.c_str(), 0600) != 0)
        throw std::runtime_error("cannot make a FIFO: " + std::string(std::strerror(errno)));
    // Opened first, so the server's end opens at once.
    const int fifo = ::open(fifoPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fifo < 0) throw std::runtime_error("cannot open a FIFO: " + std::string(std::strerror(errno)));
    try {
        // The shell gives the server the FIFO as the descriptor it reports its display on.
        process_ = std::make_unique<DaemonProcess>(DaemonProcess::Launch{
            .program = "/bin/sh",
            .arguments = {"-c", "exec Xorg \"$@\" 3>\"$0\"", fifoPath.string(), "-displayfd", "3", "-config",
                          config.string(), "-configdir", (folder_ / "xorg.conf.d").string(), "-logfile",
                          (folder_ / "Xorg.log").string(), "-noreset", "-nolisten", "tcp", "-novtswitch", "-sharevts"},
            .environment = {"PATH=/usr/bin:/bin:/usr/sbin:/sbin"},
            .log = folder_ / "output.log",
            .confinedToLoopback = false});
        const std::string number = readDisplayNumber(fifo, *process_);
        ::close(fifo);
        if (number.empty()) throw Unavailable("Xorg did not start:\n" + logText());
        displayName_ = ":" + number;
    } catch (...) {
        ::close(fifo);
        throw;
    }
    arrangeMonitors(options.monitors);
}

XorgDummyServer::~XorgDummyServer() {
    if (process_) process_->stop(SIGTERM);
}

std::string XorgDummyServer::logText() const {
    std::string text;
    for (const auto* name : {"output.log", "Xorg.log"}) {
        std::ifstream file(folder_ / name);
        text += std::string(std::istreambuf_iterator<char>(file), {});
    }
    return text;
}

void XorgDummyServer::arrangeMonitors(const std::vector<Monitor>& monitors) const {
    const auto connection = Platform::Linux::X11Connection::open(displayName_);
    ::Display* display = connection->display();
    const ::Window root = connection->root();
    Platform::Linux::X11ErrorTrap trap(display);
    const X11Owned<XRRScreenResources> resources(XRRGetScreenResourcesCurrent(display, root));
    if (!resources || resources->noutput < static_cast<int>(monitors.size())) {
        throw std::runtime_error("the dummy driver has too few outputs");
    }
    std::vector<RRMode> modes;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        modes.push_back(findOrCreateMode(display, root, *resources, monitors[i]));
        XRRAddOutputMode(display, resources->outputs[i], modes.back());
    }
    int width = 0;
    int height = 0;
    for (const auto& monitor : monitors) {
        width += monitor.width;
        height = std::max(height, monitor.height);
    }
    // Every CRTC off first, so the screen may shrink; then the monitors side by side.
    XGrabServer(display);
    for (int i = 0; i < resources->ncrtc; ++i) {
        XRRSetCrtcConfig(display, resources.get(), resources->crtcs[i], CurrentTime, 0, 0, None, RR_Rotate_0, nullptr,
                         0);
    }
    XRRSetScreenSize(display, root, width, height, width * 254 / 960, height * 254 / 960);
    int x = 0;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        RROutput output = resources->outputs[i];
        const X11Owned<XRROutputInfo> info(XRRGetOutputInfo(display, resources.get(), output));
        if (!info || info->ncrtc < 1) throw std::runtime_error("an output of the dummy driver has no CRTC");
        XRRSetCrtcConfig(display, resources.get(), info->crtcs[0], CurrentTime, x, 0, modes[i], RR_Rotate_0, &output,
                         1);
        x += monitors[i].width;
    }
    XRRSetOutputPrimary(display, root, resources->outputs[0]);
    XUngrabServer(display);
    if (!trap.sync()) throw std::runtime_error("the monitors could not be set up: " + trap.errorText());
}

} // namespace Testing
