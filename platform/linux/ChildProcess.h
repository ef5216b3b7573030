#pragma once

#include <string>
#include <vector>

namespace Platform::Linux {

// Runs a program to its end (found in PATH when the name has no slash) and collects what it
// writes to standard output and error. Blocks the caller.
struct ChildProcess {
    struct Result {
        bool started = false;
        int exitStatus = -1; // -1 unless the program exited normally
        std::string output;
    };

    static Result run(const std::vector<std::string>& arguments);
};

} // namespace Platform::Linux
