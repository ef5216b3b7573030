#include "app/trace/TraceLog.h"

#include "app/shell/Settings.h"
#include "base/BlockingQueue.h"
#include "base/MainActor.h"
#include "base/QueueClock.h"
#include "base/SerialQueue.h"
#include "media/FFmpegLog.h"
#include "platform/UserDefaults.h"
#include "platform/UserFolders.h"

#include <QString>
#include <QtGlobal>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace Plovander {
namespace {

// The note that stands for `count` lines left out because `behind` could not keep up.
std::string leftOut(std::uint64_t count, std::string_view behind) {
    return std::to_string(count) + " trace lines were left out: " + std::string(behind) + " fell behind";
}

// Standard error as the trace writes it: never waiting for a reader that may never read (a paused
// terminal, a stuck log reader). Its open file description is shared with whoever started us, so
// its flags stay as they are: a socket is written with MSG_DONTWAIT, a pipe or terminal is opened
// again as a non-blocking description of our own, and a file never waits for a reader. What does
// not fit is left out and counted. Touched only on the trace queue.
class StandardError {
public:
    void open() {
        struct stat status {};
        if (::fstat(STDERR_FILENO, &status) != 0) return;
        socket_ = S_ISSOCK(status.st_mode);
        if (socket_ || S_ISREG(status.st_mode)) {
            fd_ = STDERR_FILENO;
        } else {
            fd_ = ::open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            owned_ = fd_ >= 0;
        }
    }

    void close() {
        if (owned_) ::close(fd_);
        *this = {};
    }

    // A line that standard error takes only in part is finished before anything else, so lines
    // stay whole; while it waits, the lines that follow are left out. Returns the system's text when
    // standard error failed for good (its reader has gone, say): nothing is written there any more.
    std::optional<std::string> write(std::chrono::system_clock::time_point time, const std::string& line) {
        if (fd_ < 0) return std::nullopt;
        if (auto failed = writeUnfinished()) return failed;
        if (!unfinished_.empty()) {
            ++dropped_;
            return std::nullopt;
        }
        if (dropped_ > 0) unfinished_ = TraceLog::line(time, leftOut(dropped_, "standard error"));
        dropped_ = 0;
        unfinished_ += line;
        return writeUnfinished();
    }

private:
    std::optional<std::string> writeUnfinished() {
        while (!unfinished_.empty()) {
            const ssize_t written =
                socket_ ? ::send(fd_, unfinished_.data(), unfinished_.size(), MSG_DONTWAIT | MSG_NOSIGNAL)
                        : ::write(fd_, unfinished_.data(), unfinished_.size());
            if (written < 0 && errno != EAGAIN && errno != EINTR) {
                std::string failure = std::strerror(errno);
                close();
                return failure;
            }
            if (written <= 0) return std::nullopt;
            unfinished_.erase(0, static_cast<std::size_t>(written));
        }
        return std::nullopt;
    }

    int fd_ = -1;
    bool owned_ = false;
    bool socket_ = false;
    std::string unfinished_;
    std::uint64_t dropped_ = 0;
};

// Appends to standard error and the trace file. Touched only on the trace queue.
class TraceSink {
public:
    void configure(TraceLog::Configuration configuration) {
        closeFile();
        standardError_.close();
        configuration_ = std::move(configuration);
        if (configuration_.enabled && configuration_.toStandardError) standardError_.open();
    }

    void write(std::chrono::system_clock::time_point time, std::string_view text) {
        const std::string line = TraceLog::line(time, text);
        const auto failed = standardError_.write(time, line);
        writeFile(line);
        if (failed) writeFile(TraceLog::line(time, "stopped writing the trace to standard error: " + *failed));
    }

private:
    void writeFile(const std::string& line) {
        if (configuration_.file.empty() || !openFile()) return;
        struct stat status {};
        if (::fstat(fd_, &status) == 0 &&
            static_cast<std::uintmax_t>(status.st_size) + line.size() > TraceLog::maximumFileBytes) {
            if (!startNewFile()) return;
        }
        writeAll(fd_, line);
    }

    bool openFile() {
        if (fd_ >= 0) return true;
        try {
            Platform::UserFolders::ensurePrivate(configuration_.file.parent_path());
        } catch (const std::system_error&) {
            return false;
        }
        fd_ = ::open(configuration_.file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) ::fchmod(fd_, 0600);
        return fd_ >= 0;
    }

    // The full file becomes "<file>.1", so what led up to now survives a burst of lines; where it
    // cannot be moved it is emptied, so the cap holds.
    bool startNewFile() {
        closeFile();
        std::filesystem::path previous = configuration_.file;
        previous += ".1";
        if (::rename(configuration_.file.c_str(), previous.c_str()) == 0) return openFile();
        if (!openFile()) return false;
        return ::ftruncate(fd_, 0) == 0;
    }

    void closeFile() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    static void writeAll(int fd, std::string_view text) {
        while (!text.empty()) {
            const ssize_t written = ::write(fd, text.data(), text.size());
            if (written <= 0) return;
            text.remove_prefix(static_cast<std::size_t>(written));
        }
    }

    TraceLog::Configuration configuration_;
    StandardError standardError_;
    int fd_ = -1;
};

// The lines of one key held back in its current interval.
struct Repeats {
    std::uint64_t interval = 0;
    std::chrono::system_clock::time_point end;
    std::string text;
    int count = 0;
    TessaloyBase::ScheduledCall ending;
};

// Callers post their lines to the trace queue and go on: writing is blocking work, for the blocking
// pool, and no caller waits for it. Touched only on the queue, but for the atomics.
struct Trace {
    std::atomic<bool> on{false};
    // The configured clock, read where a line is asked for.
    std::atomic<TessaloyBase::MainActor*> clock{nullptr};
    // Lines posted and not yet written, and those left out since the last one written.
    std::atomic<int> pending{0};
    std::atomic<std::uint64_t> dropped{0};
    TessaloyBase::BlockingQueue queue{"dev.tessaloy.trace"};
    // Where the system clock's timers that end intervals fire; they hand the end to the queue.
    TessaloyBase::SerialQueue timers{"dev.tessaloy.trace.timers"};
    TraceSink sink;
    // From start() until configure() says where lines go, they are held here.
    std::optional<std::vector<std::pair<std::chrono::system_clock::time_point, std::string>>> held;
    std::map<std::string, Repeats, std::less<>> repeats;
    std::uint64_t nextInterval = 1;

    std::chrono::system_clock::time_point now() const {
        const auto* configured = clock.load();
        return configured ? configured->now() : std::chrono::system_clock::now();
    }

    // Runs `work` on the queue, unless so many lines wait already that the writer has fallen behind
    // (a stalled standard error): the line is then only counted.
    void post(std::function<void()> work) {
        if (pending.fetch_add(1) >= TraceLog::maximumPendingLines) {
            pending.fetch_sub(1);
            dropped.fetch_add(1);
            return;
        }
        queue.async([this, work = std::move(work)] {
            if (const auto left = dropped.exchange(0)) {
                write(now(), leftOut(left, "the trace"));
            }
            work();
            pending.fetch_sub(1);
        });
    }

    void write(std::chrono::system_clock::time_point time, std::string_view text) {
        if (!held) return sink.write(time, text);
        if (held->size() < TraceLog::maximumPendingLines) {
            held->emplace_back(time, text);
        } else {
            dropped.fetch_add(1);
        }
    }

    void writeRepeats(std::chrono::system_clock::time_point time, const Repeats& held) {
        if (held.count == 0) return;
        write(time, held.text + " (repeated " + std::to_string(held.count) + (held.count == 1 ? " time" : " times") +
                        " in the last " + std::to_string(TraceLog::coalescingInterval.count()) + " s)");
    }

    // Intervals follow the times the lines were asked for, which may be a while before they reach
    // the queue.
    void coalesce(std::chrono::system_clock::time_point time, std::string_view key, std::string_view text) {
        const auto found = repeats.find(key);
        if (found != repeats.end() && time < found->second.end) {
            found->second.text = text;
            ++found->second.count;
            return;
        }
        if (found != repeats.end()) endInterval(key, found->second.interval);
        write(time, text);
        const std::uint64_t interval = nextInterval++;
        const auto end =
            time + std::chrono::duration_cast<std::chrono::system_clock::duration>(TraceLog::coalescingInterval);
        repeats.emplace(std::string(key),
                        Repeats{interval, end, {}, 0, afterInterval(std::string(key), interval, end)});
    }

    void endInterval(std::string_view key, std::uint64_t interval) {
        const auto found = repeats.find(key);
        if (found == repeats.end() || found->second.interval != interval) return;
        writeRepeats(found->second.end, found->second);
        repeats.erase(found);
    }

    void flush() {
        if (repeats.empty()) return;
        const auto time = now();
        for (const auto& [key, held] : repeats) writeRepeats(time, held);
        repeats.clear();
    }

    // Ends the interval on the queue at `end`, for lines of its key that stop coming.
    TessaloyBase::ScheduledCall afterInterval(std::string key, std::uint64_t interval,
                                              std::chrono::system_clock::time_point end) {
        const auto delay = std::max(std::chrono::duration<double>(end - now()), std::chrono::duration<double>(0));
        auto ending = [this, key = std::move(key), interval] {
            queue.async([this, key, interval] { endInterval(key, interval); });
        };
        if (auto* configured = clock.load()) return configured->after(delay, std::move(ending));
        return TessaloyBase::steadyQueueClock().after(timers, delay, std::move(ending));
    }
};

Trace& trace() {
    // Never destroyed: the I/O threads may still trace while the process exits.
    static auto* const instance = new Trace;
    return *instance;
}

// Appends `text` with every control character (C0, DEL, C1, line and paragraph separators) turned
// into "?", so a device-supplied name cannot start a second line.
void appendSanitized(std::string& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        const auto third = i + 2 < text.size() ? static_cast<unsigned char>(text[i + 2]) : 0;
        if (byte < 0x20 || byte == 0x7F) {
            out += '?';
        } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            out += '?';
            i += 1;
        } else if (byte == 0xE2 && next == 0x80 && (third == 0xA8 || third == 0xA9)) {
            out += '?';
            i += 2;
        } else {
            out += static_cast<char>(byte);
        }
    }
}

void traceQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text);

// Qt's own handler writes to standard error on the thread that logs, the main one mostly; once this
// has run, Qt's messages come to the trace instead. Returns Qt's own handler.
QtMessageHandler routeQtMessages() {
    static const QtMessageHandler qtHandler = qInstallMessageHandler(traceQtMessage);
    return qtHandler;
}

void traceQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    // The process ends as soon as a fatal message is handled: Qt's handler says it at once.
    if (type == QtFatalMsg) return routeQtMessages()(type, context, text);
    if (type == QtWarningMsg || type == QtCriticalMsg) TraceLog::message([&] { return text.toStdString(); });
}

void routeMessages() {
    TessaloyMedia::FFmpegLog::routeTo([](std::string_view line) { TraceLog::message(line); });
    routeQtMessages();
}

} // namespace

TraceLog::Configuration TraceLog::configurationFrom(const Platform::UserDefaults& defaults,
                                                    const std::function<const char*(const char*)>& environment) {
    Configuration configuration;
    const char* switched = environment("TESSALOY_TRACE");
    configuration.enabled =
        (switched && std::string_view(switched) == "1") || defaults.boolean(Settings::trace).value_or(false);
    const char* file = environment("TESSALOY_TRACE_FILE");
    configuration.file = file && file[0] ? std::filesystem::path(file) : defaultFile();
    return configuration;
}

std::filesystem::path TraceLog::defaultFile() { return Platform::UserFolders::state() / "trace.log"; }

void TraceLog::start() {
    Trace& state = trace();
    state.queue.async([&state] { state.held.emplace(); });
    state.on = true;
    routeMessages();
}

void TraceLog::configure(Configuration configuration) {
    Trace& state = trace();
    const bool enabled = configuration.enabled;
    state.queue.async([&state, configuration = std::move(configuration)] {
        // Held-back counts belong to the file they were counted for.
        state.flush();
        state.clock = configuration.clock;
        state.sink.configure(configuration);
        const auto held = std::exchange(state.held, std::nullopt);
        if (!held || !configuration.enabled) return;
        for (const auto& [time, text] : *held) state.write(time, text);
    });
    state.queue.drain();
    state.on = enabled;
    routeMessages();
}

bool TraceLog::isOn() { return trace().on.load(std::memory_order_relaxed); }

std::string TraceLog::line(std::chrono::system_clock::time_point time, std::string_view message) {
    const auto sinceMidnight = time.time_since_epoch() % std::chrono::days(1);
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(sinceMidnight).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", static_cast<int>(milliseconds / 3'600'000),
                  static_cast<int>(milliseconds / 60'000 % 60), static_cast<int>(milliseconds / 1000 % 60),
                  static_cast<int>(milliseconds % 1000));
    std::string result = "[tessaloy] ";
    result += stamp;
    result += ' ';
    appendSanitized(result, message);
    result += '\n';
    return result;
}

void TraceLog::message(std::string_view text) {
    if (!isOn()) return;
    Trace& state = trace();
    state.post([&state, time = state.now(), text = std::string(text)] { state.write(time, text); });
}

void TraceLog::coalesced(std::string_view key, std::string_view text) {
    if (!isOn()) return;
    Trace& state = trace();
    state.post([&state, time = state.now(), key = std::string(key), text = std::string(text)] {
        state.coalesce(time, key, text);
    });
}

void TraceLog::flush() {
    Trace& state = trace();
    state.queue.async([&state] { state.flush(); });
    state.queue.drain();
}

void TraceLog::awaitingApproval() { message("awaiting approval"); }

void TraceLog::inputLockTapRefused(int tapIndex) {
    message([&] { return "local input lock: tap " + std::to_string(tapIndex) + " was refused"; });
}

void TraceLog::couldNotPreventIdleSleep(std::string_view reason) {
    message([&] { return "could not prevent idle sleep: " + std::string(reason); });
}

void TraceLog::pastedImage(std::uint64_t bytes) {
    message([&] { return "pasted an image from the device, " + std::to_string(bytes) + " bytes"; });
}

void TraceLog::receivedFile(std::uint64_t bytes) {
    message([&] { return "received a file from the device, " + std::to_string(bytes) + " bytes"; });
}

void TraceLog::screenRecordingGranted(bool granted, bool alreadyAsked) {
    message([&] {
        return std::string("screen recording granted=") + boolText(granted) + " alreadyAsked=" + boolText(alreadyAsked);
    });
}

} // namespace Plovander
