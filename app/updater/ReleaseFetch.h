#pragma once

#include "core/Bytes.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace Plovander {

// One HTTPS GET through libcurl, under a byte limit, either into memory or into a new private file.
// Blocking: run it away from the main actor.
struct ReleaseFetch {
    static constexpr int maximumRedirects = 5;

    struct Options {
        std::string expectedHost;         // redirects may lead only to https on this host
        std::string userAgent;            // empty: libcurl sends none
        bool bypassCaches = false;        // asks every cache on the way for a fresh answer
        std::chrono::seconds idleTimeout; // gives up when no byte arrives for this long
        // Gives up when the whole request, redirects included, takes longer, however steadily the
        // bytes trickle in. Zero sets no such limit: callers give their own.
        std::chrono::milliseconds deadline{0};
        std::int64_t limit = 0;
        // Where the body goes; empty keeps it in memory. Created 0600, exclusively, with the
        // first byte of a 200 answer whose announced length is within the limit.
        std::filesystem::path destination;
        // Trust and address for a test server, handed in by code: a test, or the test build of the
        // program. The product leaves them empty.
        std::filesystem::path testAuthorityFile;
        std::string testConnectTo; // libcurl's CONNECT_TO form, "host:port:address:port"
        const std::atomic<bool>* cancelled = nullptr;
    };

    struct Result {
        TessaloyCore::Bytes body; // empty with a destination
        long status = 0;
    };

    // Throws UpdateFailure(tooLarge) over the limit and UpdateFailure(withdrawn) when cancelled;
    // any other failure (transport, time-out, redirect refused, file) throws std::runtime_error
    // with libcurl's or the system's words. A status other than 200 is returned, its body unread.
    // A file created for a failed fetch is left for the caller to remove.
    static Result fetch(const std::string& url, const Options& options);
};

} // namespace Plovander
