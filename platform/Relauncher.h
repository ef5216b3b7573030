#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

namespace Platform {

// Starts the updated copy of this program and hands it this process's id, so that it waits for
// this one to end before it checks for other running copies.
class Relauncher {
public:
    enum class Outcome { confirmed, unanswered, failed };
    struct Result {
        Outcome outcome = Outcome::failed;
        std::string error; // why it failed
    };

    // The launch argument that carries the old process's id.
    static constexpr const char* afterUpdateArgument = "-TessaloyAfterUpdate";

    virtual ~Relauncher() = default;

    // Starts `program` with afterUpdateArgument and this process's id, in a new session, without
    // this process's descriptors, then waits up to `wait` for its ready byte. A start that fails,
    // or a copy that ends before it is ready, is `failed`; no byte in time is `unanswered`.
    // Blocks the calling thread.
    virtual Result start(const std::filesystem::path& program, std::chrono::milliseconds wait) = 0;

    // The new copy's first act in main: tells the copy that started it that it runs.
    static void signalReady();

    static std::unique_ptr<Relauncher> create();
};

} // namespace Platform
