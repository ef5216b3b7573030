#pragma once

#include <X11/Xlib.h>

#include <string>

namespace Platform::Linux {

// Catches the X errors of one connection while it lives, so a failed request becomes a result
// instead of Xlib's default handler ending the process. Traps may be nested and used on several
// threads at once: the process-wide Xlib handler is installed while any trap lives and the previous
// one is put back after the last. An error goes to the innermost trap of its connection.
//
// Create and destroy a trap on the thread that makes the requests it guards. The destructor waits
// for the server's answers, so no error of the guarded requests arrives after it.
class X11ErrorTrap {
public:
    explicit X11ErrorTrap(::Display* display);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits until the server has answered every request sent so far; returns whether all succeeded.
    bool sync();
    // Whether an error arrived so far (without waiting).
    bool failed() const;
    // The first error's code (Success when none).
    int errorCode() const;
    // The first error as Xlib describes it, with the request that caused it; empty when none.
    std::string errorText() const;

private:
    friend class X11ErrorTrapRegistry;

    ::Display* display_;
    // Written by the Xlib handler, read by the owner; both under the registry's lock.
    XErrorEvent first_{};
    int count_ = 0;
};

} // namespace Platform::Linux
