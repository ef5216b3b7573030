#pragma once

#include <chrono>
#include <concepts>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace Platform {
class UserDefaults;
}
namespace TessaloyBase {
class MainActor;
}

namespace Plovander {

// The process-wide diagnostic trace. When it is on, each message becomes one line
// "[tessaloy] HH:MM:SS.mmm message" (UTC) on standard error and at the end of the trace file. Each
// line is timed when asked for and written later on the queue "dev.tessaloy.trace" of the blocking
// pool: only flush() and configure() wait for it. When it is off nothing is built and nothing is
// written.
class TraceLog {
public:
    struct Configuration {
        bool enabled = false;
        std::filesystem::path file;
        bool toStandardError = true;
        // The time of the lines and the timer that ends intervals of coalesced lines: nothing for
        // the system clock and a steady timer. Must outlive the configuration.
        TessaloyBase::MainActor* clock = nullptr;
    };

    // Before a line that would take the file past this size, the file becomes "<file>.1" (replacing
    // an older one) and a new file begins.
    static constexpr std::uintmax_t maximumFileBytes = 5 * 1024 * 1024;
    static constexpr std::chrono::seconds coalescingInterval{10};
    // Lines waiting to be written beyond this are left out and counted, so a stalled trace file
    // costs no more than this. Standard error is never waited for: what it cannot take at once is
    // left out and counted there alone.
    static constexpr int maximumPendingLines = 10'000;

    // On when TESSALOY_TRACE is "1" or the setting is true; the file from TESSALOY_TRACE_FILE, else
    // the user's state folder.
    static Configuration configurationFrom(const Platform::UserDefaults& defaults,
                                           const std::function<const char*(const char*)>& environment);
    static std::filesystem::path defaultFile();

    // First thing in the program: from then on the warnings and errors of FFmpeg and Qt are trace
    // lines too, and not written to standard error, where they would stop the thread that logs
    // while nobody reads; the lines asked for until configure() are held for it.
    static void start();
    // Like flush(), waits until the lines asked for so far are written, where they were meant to go;
    // those held since start() go where this configuration sends lines, or nowhere when it is off.
    // Routes the messages of FFmpeg and Qt as start() does.
    static void configure(Configuration configuration);
    static bool isOn();

    // The whole line for `message` at `time`, control characters replaced so it stays one line.
    static std::string line(std::chrono::system_clock::time_point time, std::string_view message);

    static void message(std::string_view text);
    // Builds the text only when tracing is on.
    template <typename Build>
    requires std::invocable<Build&>
    static void message(Build&& build) {
        if (isOn()) message(std::string_view(build()));
    }

    // For lines anyone can cause again and again (a refused connection, say), so they cannot push
    // the rest out of the file: the first of `key` is written at once and starts an interval of
    // coalescingInterval; more of that key within it are only counted, and when it ends one line
    // "<the last of them> (repeated N times in the last 10 s)" stands for them.
    static void coalesced(std::string_view key, std::string_view text);
    // Builds the text only when tracing is on.
    template <typename Build>
    requires std::invocable<Build&>
    static void coalesced(std::string_view key, Build&& build) {
        if (isOn()) coalesced(key, std::string_view(build()));
    }
    // Writes the counts held back so far at once, and waits until every line asked for so far is
    // written: at shutdown, and before reading the file. Never from the blocking pool.
    static void flush();

    // "true" or "false", as trace lines write a Boolean.
    static const char* boolText(bool value) { return value ? "true" : "false"; }

    static void awaitingApproval();
    static void inputLockTapRefused(int tapIndex);
    static void couldNotPreventIdleSleep(std::string_view reason);
    static void pastedImage(std::uint64_t bytes);
    static void receivedFile(std::uint64_t bytes);
    static void screenRecordingGranted(bool granted, bool alreadyAsked);
};

} // namespace Plovander
