#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Testing {

// A private home for the program that a test starts, in `folder`: its config, data, state and cache
// folders under `home`, its runtime folder, its trace file, and settings that ask neither the
// product's relay service nor this machine's router.
struct ProgramHome {
    explicit ProgramHome(const std::filesystem::path& folder);

    // Starts `arguments` (the first names the program) with `settings` ("NAME=value"), which win over
    // the rest: this home on `display`, no session bus (libdbus would otherwise start one
    // through the display, which can hang), the trace on, no leak report; then what the test
    // inherited.
    pid_t start(const std::vector<std::string>& arguments, const std::string& display,
                const std::vector<std::string>& settings = {},
                const posix_spawn_file_actions_t* actions = nullptr) const;

    const std::filesystem::path home;
    const std::filesystem::path runtime;
    const std::filesystem::path trace;
};

// Waits for a process to end, for `patience` at most; reaps it when it is our child, giving its wait
// status (0 for one not ours).
std::optional<int> waitForExit(pid_t pid, bool child, std::chrono::milliseconds patience);

// Waits until `done` holds, looking again whenever something in `folder` is written, for `patience`
// at most.
bool untilWritten(const std::filesystem::path& folder, const std::function<bool()>& done,
                  std::chrono::milliseconds patience);

} // namespace Testing
