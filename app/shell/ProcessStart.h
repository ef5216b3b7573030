#pragma once

namespace Plovander {

// What the program makes sure of first, however a desktop or a service manager started it.
class ProcessStart {
public:
    // Before anything else: descriptors 0, 1 and 2 are open (on /dev/null where they were closed),
    // so nothing opened later, such as the X connection, takes one and receives what is meant for
    // standard error; no write raises SIGPIPE, so a reader that goes away costs only its stream;
    // and the trace takes the messages of Qt (TraceLog::start()).
    static void prepare();
};

} // namespace Plovander
