#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace Platform::Linux {

// A failed exchange with the X server; the message says what and why.
class X11Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One Xlib connection, closed on destruction. When the server goes away the connection is marked
// broken instead of ending the process; every later request on it then fails without effect.
// Xlib serialises calls on one connection, but an owner should still keep it to one queue or thread.
class X11Connection {
public:
    // Connects to `displayName` (empty: $DISPLAY). Throws X11Error when no server answers.
    static std::unique_ptr<X11Connection> open(const std::string& displayName);

    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    ::Display* display() const { return display_; }
    ::Window root() const { return XDefaultRootWindow(display_); }
    int screen() const { return XDefaultScreen(display_); }
    // The name the connection was made to, such as ":3".
    const std::string& name() const { return name_; }
    bool isBroken() const { return broken_.load(); }
    // Whether the server offers the extension `name` (as the protocol names it, such as "RANDR").
    // Ask before calling an extension's library: some keep memory per connection for ever when
    // their extension is missing. Answers are kept for the connection's life.
    bool hasExtension(const std::string& name);

private:
    X11Connection(::Display* display, std::string name);
    static void onConnectionLost(::Display* display, void* connection);

    ::Display* display_;
    std::string name_;
    std::atomic<bool> broken_{false};
    std::map<std::string, bool, std::less<>> extensions_;
};

} // namespace Platform::Linux
