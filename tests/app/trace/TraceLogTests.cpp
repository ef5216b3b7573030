#include "app/trace/TraceLog.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/MemoryUserDefaults.h"
#include "tests/support/ProgramHome.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/XvfbServer.h"

#include <gtest/gtest.h>

#include <QtGlobal>

extern "C" {
#include <libavutil/log.h>
}
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <future>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Plovander::TraceLog;

// What the trace file holds once every line asked for is written.
std::string contents(const std::filesystem::path& path) {
    TraceLog::flush();
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class TraceLogTest : public ::testing::Test {
protected:
    void SetUp() override { TraceLog::configure({.enabled = true, .file = file, .toStandardError = false}); }
    void TearDown() override { TraceLog::configure({}); }

    Testing::TemporaryDirectory folder;
    std::filesystem::path file = folder / "logs" / "trace.log";
};

TEST(TraceLine, IsPrefixedWithTheUtcTimeOfDay) {
    const std::chrono::system_clock::time_point time(std::chrono::seconds(1'767'225'600) + 13h + 4min + 5s + 678ms);
    EXPECT_EQ(TraceLog::line(time, "awaiting approval"), "[tessaloy] 13:04:05.678 awaiting approval\n");
    EXPECT_EQ(TraceLog::line(std::chrono::system_clock::time_point(std::chrono::seconds(1'767'225'600)), ""),
              "[tessaloy] 00:00:00.000 \n");
}

TEST(TraceLine, ControlCharactersCannotStartASecondLine) {
    const auto time = std::chrono::system_clock::time_point(std::chrono::seconds(0));
    EXPECT_EQ(TraceLog::line(time, "name=Eve\n[tessaloy] 00:00:00.000 forged\r\t\x7f"),
              "[tessaloy] 00:00:00.000 name=Eve?[tessaloy] 00:00:00.000 forged???\n");
    // NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR; other UTF-8 passes through.
    EXPECT_EQ(TraceLog::line(time, "a\u0085b\u2028c\u2029d é"), "[tessaloy] 00:00:00.000 a?b?c?d é\n");
}

TEST(TraceSwitch, IsOnThroughTheEnvironmentOrTheSetting) {
    Testing::MemoryUserDefaults defaults;
    std::map<std::string, std::string> environment;
    auto lookup = [&](const char* name) -> const char* {
        const auto found = environment.find(name);
        return found == environment.end() ? nullptr : found->second.c_str();
    };

    EXPECT_FALSE(TraceLog::configurationFrom(defaults, lookup).enabled);
    environment["TESSALOY_TRACE"] = "true";
    EXPECT_FALSE(TraceLog::configurationFrom(defaults, lookup).enabled);
    environment["TESSALOY_TRACE"] = "1";
    EXPECT_TRUE(TraceLog::configurationFrom(defaults, lookup).enabled);
    environment.erase("TESSALOY_TRACE");
    defaults.setBoolean("TessaloyTrace", true);
    EXPECT_TRUE(TraceLog::configurationFrom(defaults, lookup).enabled);

    EXPECT_EQ(TraceLog::configurationFrom(defaults, lookup).file, TraceLog::defaultFile());
    environment["TESSALOY_TRACE_FILE"] = "/tmp/elsewhere.log";
    EXPECT_EQ(TraceLog::configurationFrom(defaults, lookup).file, "/tmp/elsewhere.log");
}

TEST_F(TraceLogTest, AppendsOnePrivateLinePerMessage) {
    TraceLog::message("first");
    TraceLog::message([] { return std::string("second"); });

    const std::regex expected(
        "\\[tessaloy\\] \\d\\d:\\d\\d:\\d\\d\\.\\d{3} first\n"
        "\\[tessaloy\\] \\d\\d:\\d\\d:\\d\\d\\.\\d{3} second\n");
    EXPECT_TRUE(std::regex_match(contents(file), expected)) << contents(file);

    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(TraceLogTest, WhenOffNothingIsBuiltOrWritten) {
    TraceLog::configure({.enabled = false, .file = file, .toStandardError = false});
    bool built = false;
    TraceLog::message([&] {
        built = true;
        return std::string("never");
    });
    TraceLog::coalesced("key", [&] {
        built = true;
        return std::string("never");
    });
    EXPECT_FALSE(built);
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(TraceLogTest, KeepsThePreviousFileBeforeItGrowsPastFiveMebibytes) {
    std::filesystem::create_directories(file.parent_path());
    std::filesystem::path previous = file;
    previous += ".1";
    std::ofstream(previous) << "older\n";
    const std::string line = TraceLog::line(std::chrono::system_clock::now(), "fits exactly");
    {
        std::ofstream filler(file, std::ios::binary);
        filler << std::string(TraceLog::maximumFileBytes - line.size(), 'x');
    }
    TraceLog::message("fits exactly");
    TraceLog::flush();
    EXPECT_EQ(std::filesystem::file_size(file), TraceLog::maximumFileBytes);

    TraceLog::message("one too many");
    const std::string now = contents(file);
    EXPECT_EQ(now.find('x'), std::string::npos);
    EXPECT_NE(now.find("one too many"), std::string::npos);
    EXPECT_EQ(std::count(now.begin(), now.end(), '\n'), 1);
    const std::string kept = contents(previous);
    EXPECT_EQ(kept.size(), TraceLog::maximumFileBytes);
    EXPECT_NE(kept.find("fits exactly"), std::string::npos);
    EXPECT_EQ(kept.find("older"), std::string::npos);
}

TEST_F(TraceLogTest, CoalescesRepeatsOfAKeyIntoOneCountPerInterval) {
    Testing::ManualMainActor clock;
    TraceLog::configure({.enabled = true, .file = file, .toStandardError = false, .clock = &clock});
    const auto start = clock.now();
    const auto at = [&](double seconds) {
        return start +
               std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(seconds));
    };
    // At each time (seconds from the start), `text` under `key`.
    struct Step {
        double at;
        const char* key;
        const char* text;
    };
    const std::vector<Step> steps{
        {0, "a", "refused a 1"},
        {1, "a", "refused a 2"},
        {1, "a", "refused a 3"},
        {2, "b", "refused b 1"},
        {9.5, "a", "refused a 4"},
        // a's interval ended at 10 s: the next a starts another.
        {11, "a", "refused a 5"},
        // b's interval ends at 12 s with nothing held back; this one starts the next.
        {12, "b", "refused b 2"},
        {12.5, "b", "refused b 3"},
    };
    for (const Step& step : steps) {
        clock.advance(at(step.at) - clock.now());
        TraceLog::coalesced(step.key, [&] { return std::string(step.text); });
    }
    // Both intervals still open: the flush writes b's count, and a has none.
    clock.advance(at(20) - clock.now());
    TraceLog::flush();

    const auto line = [&](double seconds, const char* text) { return TraceLog::line(at(seconds), text); };
    EXPECT_EQ(contents(file), line(0, "refused a 1") + line(2, "refused b 1") +
                                  line(10, "refused a 4 (repeated 3 times in the last 10 s)") +
                                  line(11, "refused a 5") + line(12, "refused b 2") +
                                  line(20, "refused b 3 (repeated 1 time in the last 10 s)"));
}

// A writer that cannot write (a pipe nobody reads yet) holds back at most maximumPendingLines; the
// rest are counted, and the count is written once the writer moves again.
TEST_F(TraceLogTest, AStalledWriterLeavesOutWhatItCannotHoldAndSaysSo) {
    const auto pipe = folder / "stalled";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    TraceLog::configure({.enabled = true, .file = pipe, .toStandardError = false});
    for (int i = 0; i < TraceLog::maximumPendingLines + 100; ++i) TraceLog::message("waiting " + std::to_string(i));

    std::vector<std::string> read;
    std::promise<void> moving;
    std::thread reader([&] {
        std::ifstream in(pipe);
        for (std::string line; std::getline(in, line) && line.find(" last") == std::string::npos;) {
            read.push_back(line);
            // Two lines read: the writer has finished the first, so there is room for one more.
            if (read.size() == 2) moving.set_value();
        }
    });
    moving.get_future().wait();
    TraceLog::message("last");
    reader.join();
    // The first lines asked for are written, the last ones left out and counted.
    ASSERT_EQ(read.size(), static_cast<std::size_t>(TraceLog::maximumPendingLines + 1));
    const auto said = [&](const std::string& text) {
        return std::count_if(read.begin(), read.end(), [&](const std::string& line) { return line.ends_with(text); });
    };
    EXPECT_EQ(said(" waiting " + std::to_string(TraceLog::maximumPendingLines - 1)), 1);
    EXPECT_EQ(said(" 100 trace lines were left out: the trace fell behind"), 1);
}

// Standard error that nobody reads holds up neither the trace nor the threads FFmpeg and Qt log
// from; their warnings go to the file, and what it could not take is counted there once it drains.
TEST_F(TraceLogTest, AStalledStandardErrorHoldsUpNobody) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    const std::string filler(static_cast<std::size_t>(::fcntl(ends[1], F_GETPIPE_SZ)), 'x');
    ASSERT_EQ(::write(ends[1], filler.data(), filler.size()), static_cast<ssize_t>(filler.size()));
    const int savedError = ::dup(STDERR_FILENO);
    ::dup2(ends[1], STDERR_FILENO);
    ::close(ends[1]);
    Testing::ManualMainActor clock;
    TraceLog::configure({.enabled = true, .file = file, .clock = &clock});
    const auto line = [&](const char* text) { return TraceLog::line(clock.now(), text); };

    TraceLog::message("held back");
    TraceLog::message("left out");
    av_log(nullptr, AV_LOG_WARNING, "a warning\n");
    av_log(nullptr, AV_LOG_INFO, "chatter\n");
    qWarning("a warning from Qt");
    qInfo("chatter");
    EXPECT_EQ(contents(file), line("held back") + line("left out") + line("a warning") + line("a warning from Qt"));

    // A read takes all that the pipe holds, up to its size.
    std::string drained(filler.size(), '\0');
    ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
    EXPECT_EQ(::read(ends[0], drained.data(), drained.size()), static_cast<ssize_t>(drained.size()));
    TraceLog::message("moving again");
    TraceLog::flush();
    ::dup2(savedError, STDERR_FILENO);
    drained.resize(static_cast<std::size_t>(std::max<ssize_t>(::read(ends[0], drained.data(), drained.size()), 0)));
    EXPECT_EQ(drained, line("held back") + line("3 trace lines were left out: standard error fell behind") +
                           line("moving again"));
    for (const int end : {savedError, ends[0]}) ::close(end);
}

// The program as a desktop or a service manager may start it, in a private home on a private desktop
// with the trace on: standard error is a full pipe that nobody reads, unless the script changes it.
// It runs until SIGTERM and quits, or says why it cannot run at all.
TEST(TraceLogOfTheProgram, CopesWithHowItIsStarted) {
    struct Row {
        const char* script; // "$0" is the program, "$1" a file
        bool readerGone;
        int status;
        const char* setting;
        const char* said; // in the trace or the file
    };
    const std::vector<Row> rows{
        {"exec \"$0\" 2>&-", false, 0, "QT_QPA_PLATFORM=xcb", "Plovander quit"},
        {"exec \"$0\"", true, 0, "QT_QPA_PLATFORM=xcb", "to standard error: Broken pipe"},
        {"exec \"$0\"", false, 0, "QT_QPA_PLATFORM=wayland;xcb", "platform plugin \"wayland\""},
        {"exec \"$0\"", false, 0, "QT_LOGGING_RULES=qt.*=true", "Plovander quit"},
        {"ulimit -n 48 && exec \"$0\" 2>\"$1\"", false, 1, "QT_QPA_PLATFORM=xcb", "cannot run with 48 open files"},
    };
    const Testing::XvfbServer display;
    for (const Row& row : rows) {
        SCOPED_TRACE(&row - rows.data());
        const Testing::TemporaryDirectory folder;
        const Testing::ProgramHome home(folder.path());
        const std::filesystem::path error = folder / "error";
        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        const std::string filler(static_cast<std::size_t>(::fcntl(ends[1], F_GETPIPE_SZ)), 'x');
        ASSERT_EQ(::write(ends[1], filler.data(), filler.size()), static_cast<ssize_t>(filler.size()));
        if (row.readerGone) ::close(std::exchange(ends[0], -1));
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, ends[1], STDERR_FILENO);
        const pid_t pid = home.start({"/bin/sh", "-c", row.script, PLOVANDER_PROGRAM, error.string()},
                                     display.displayName(), {row.setting}, &actions);
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
        ASSERT_GT(pid, 0);
        if (row.status == 0) {
            // Running once it listens for a second copy.
            const std::filesystem::path socket = home.runtime / "tessaloy/plovander.socket";
            Testing::untilWritten(
                socket.parent_path(), [&] { return std::filesystem::exists(socket); }, 30s);
            ::kill(pid, SIGTERM);
        }
        auto status = Testing::waitForExit(pid, true, 30s);
        if (!status) {
            ::kill(pid, SIGKILL);
            status = Testing::waitForExit(pid, true, 30s);
        }
        if (ends[0] >= 0) ::close(ends[0]);
        EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == row.status) << status.value_or(-1);
        const std::string said = contents(home.trace) + contents(error);
        EXPECT_NE(said.find(row.said), std::string::npos) << said;
    }
}

} // namespace
