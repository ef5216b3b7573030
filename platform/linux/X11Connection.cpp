#include "platform/linux/X11Connection.h"

#include "platform/linux/X11ErrorTrap.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace Platform::Linux {
namespace {

// Xlib's handler for a lost connection is process-wide and its default ends the process. While any
// connection of ours is open, ours is installed: it lets our connections fail quietly and passes
// every other connection's loss on to the handler it replaced.
class LostConnectionHandler {
public:
    static LostConnectionHandler& shared() {
        // Never destroyed: queue threads may still use their connections while the process exits.
        static auto* handler = new LostConnectionHandler;
        return *handler;
    }

    void add(::Display* display) {
        std::lock_guard guard(lock_);
        if (displays_.empty()) previous_ = XSetIOErrorHandler(&LostConnectionHandler::handle);
        displays_.push_back(display);
    }

    void remove(::Display* display) {
        std::lock_guard guard(lock_);
        displays_.erase(std::find(displays_.begin(), displays_.end(), display));
        if (displays_.empty()) {
            XSetIOErrorHandler(previous_);
            previous_ = nullptr;
        }
    }

private:
    static int handle(::Display* display) {
        auto& handler = shared();
        XIOErrorHandler forward = nullptr;
        {
            std::lock_guard guard(handler.lock_);
            if (std::find(handler.displays_.begin(), handler.displays_.end(), display) != handler.displays_.end()) {
                return 0;
            }
            forward = handler.previous_;
        }
        return forward ? forward(display) : 0;
    }

    std::mutex lock_;
    std::vector<::Display*> displays_;
    XIOErrorHandler previous_ = nullptr;
};

} // namespace

std::unique_ptr<X11Connection> X11Connection::open(const std::string& displayName) {
    // Xlib must be made thread-aware before its first connection.
    static std::once_flag threadsReady;
    std::call_once(threadsReady, [] { XInitThreads(); });

    const char* requested = displayName.empty() ? nullptr : displayName.c_str();
    const std::string name = XDisplayName(requested);
    ::Display* display = XOpenDisplay(requested);
    if (!display) {
        throw X11Error(name.empty() ? "no X display is set (DISPLAY is empty)"
                                    : "cannot connect to the X server \"" + name + "\"");
    }
    return std::unique_ptr<X11Connection>(new X11Connection(display, name));
}

X11Connection::X11Connection(::Display* display, std::string name) : display_(display), name_(std::move(name)) {
    LostConnectionHandler::shared().add(display_);
    XSetIOErrorExitHandler(display_, &X11Connection::onConnectionLost, this);
}

X11Connection::~X11Connection() {
    {
        // Errors of requests still in flight arrive here rather than at the default handler.
        X11ErrorTrap trap(display_);
    }
    XCloseDisplay(display_);
    LostConnectionHandler::shared().remove(display_);
}

bool X11Connection::hasExtension(const std::string& name) {
    // Xlib's answers on a broken connection are not to be trusted, and none is worth keeping.
    if (isBroken()) return false;
    if (const auto known = extensions_.find(name); known != extensions_.end()) return known->second;
    int opcode = 0;
    int eventBase = 0;
    int errorBase = 0;
    const bool present = XQueryExtension(display_, name.c_str(), &opcode, &eventBase, &errorBase);
    if (isBroken()) return false;
    extensions_.emplace(name, present);
    return present;
}

void X11Connection::onConnectionLost(::Display* display, void* connection) {
    static_cast<X11Connection*>(connection)->broken_ = true;
    // Xlib keeps the display locked for this thread when this handler returns, as it expects to
    // exit; without this every other thread would block on the dead connection for ever.
    XUnlockDisplay(display);
}

} // namespace Platform::Linux
