#include "platform/linux/X11ErrorTrap.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace Platform::Linux {

// The live traps of the process, innermost last. The lock is never held by a thread that waits
// for Xlib's own locks except inside XSetErrorHandler, and the handler takes no Xlib lock while
// holding it, so the two cannot deadlock.
class X11ErrorTrapRegistry {
public:
    static X11ErrorTrapRegistry& shared() {
        // Never destroyed: queue threads may still trap while the process exits.
        static auto* registry = new X11ErrorTrapRegistry;
        return *registry;
    }

    void add(X11ErrorTrap* trap) {
        std::lock_guard guard(lock_);
        if (traps_.empty()) previous_ = XSetErrorHandler(&X11ErrorTrapRegistry::handle);
        traps_.push_back(trap);
    }

    void remove(X11ErrorTrap* trap) {
        std::lock_guard guard(lock_);
        traps_.erase(std::find(traps_.begin(), traps_.end(), trap));
        if (traps_.empty()) {
            XSetErrorHandler(previous_);
            previous_ = nullptr;
        }
    }

    template <typename Read>
    auto read(Read&& read) {
        std::lock_guard guard(lock_);
        return read();
    }

private:
    static int handle(::Display* display, XErrorEvent* event) {
        auto& registry = shared();
        XErrorHandler forward = nullptr;
        {
            std::lock_guard guard(registry.lock_);
            for (auto trap = registry.traps_.rbegin(); trap != registry.traps_.rend(); ++trap) {
                if ((*trap)->display_ != display) continue;
                if ((*trap)->count_++ == 0) (*trap)->first_ = *event;
                return 0;
            }
            forward = registry.previous_;
        }
        // Another connection of the process: its owner's handler decides.
        return forward ? forward(display, event) : 0;
    }

    std::mutex lock_;
    std::vector<X11ErrorTrap*> traps_;
    XErrorHandler previous_ = nullptr;
};

X11ErrorTrap::X11ErrorTrap(::Display* display) : display_(display) { X11ErrorTrapRegistry::shared().add(this); }

X11ErrorTrap::~X11ErrorTrap() {
    XSync(display_, False);
    X11ErrorTrapRegistry::shared().remove(this);
}

bool X11ErrorTrap::sync() {
    XSync(display_, False);
    return !failed();
}

bool X11ErrorTrap::failed() const {
    return X11ErrorTrapRegistry::shared().read([this] { return count_ > 0; });
}

int X11ErrorTrap::errorCode() const {
    return X11ErrorTrapRegistry::shared().read([this] { return count_ > 0 ? int(first_.error_code) : Success; });
}

std::string X11ErrorTrap::errorText() const {
    const auto error = X11ErrorTrapRegistry::shared().read([this] { return count_ > 0 ? first_ : XErrorEvent{}; });
    if (error.error_code == Success) return {};
    char text[256] = {};
    XGetErrorText(display_, error.error_code, text, sizeof text);
    return std::string(text) + " in request " + std::to_string(error.request_code) + "." +
           std::to_string(error.minor_code);
}

} // namespace Platform::Linux
