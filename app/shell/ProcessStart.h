#pragma once

#include <sys/resource.h>

namespace Plovander {

// What the program makes sure of first, however a desktop or a service manager started it.
class ProcessStart {
public:
    // Start-up opens about 30 descriptors; the reserve that connections leave (OpenFiles) and a
    // device's two connections come on top.
    static constexpr rlim_t leastOpenFiles = 64;

    // Before anything else: descriptors 0, 1 and 2 are open (on /dev/null where they were closed),
    // so nothing opened later, such as the X connection, takes one and receives what is meant for
    // standard error; no write raises SIGPIPE, so a reader that goes away costs only its stream;
    // and the trace takes the messages of Qt (TraceLog::start()).
    static void prepare();
    // Says on standard error that `openFiles` are too few to run with; returns the exit status.
    static int tooFewOpenFiles(rlim_t openFiles);
};

} // namespace Plovander
