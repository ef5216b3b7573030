#include <gtest/gtest.h>

#include "app/updater/InstalledCopy.h"
#include "app/updater/TestReleases.h"
#include "tests/app/updater/ReleaseFixture.h"
#include "tests/support/LoopbackHttpsServer.h"
#include "tests/support/XvfbServer.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <optional>
#include <vector>

extern char** environ;

// The installed program updates itself for real: build 1, laid out by `cmake --install`, finds
// build 2 on a release server on loopback, installs it in its own place, starts it and quits; the
// new copy waits for the old one and takes over. The program is its test build, which a test can
// point at its release server; build 2 is that very program labelled build 2 in its Info.json (and
// signed as such): what is tested is the hand-over, not a change of code.
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto patience = 60s;

std::string contents(const fs::path& file) {
    std::ostringstream text;
    text << std::ifstream(file).rdbuf();
    return text.str();
}

// Waits for a process to end, bounded; reaps it when it is our child, giving its wait status.
std::optional<int> waitForExit(pid_t pid, bool child) {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) return errno == ESRCH ? std::optional(0) : std::nullopt;
    pollfd ready{fd, POLLIN, 0};
    const bool ended = ::poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(patience).count())) == 1;
    ::close(fd);
    int status = 0;
    if (ended && child) ::waitpid(pid, &status, 0);
    return ended ? std::optional(status) : std::nullopt;
}

// Waits until `done` holds, looking again whenever something in `folder` is written; bounded.
bool untilWritten(const fs::path& folder, const std::function<bool()>& done) {
    const int fd = ::inotify_init1(IN_CLOEXEC);
    ::inotify_add_watch(fd, folder.c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE);
    const auto deadline = std::chrono::steady_clock::now() + patience;
    bool held = done();
    while (!held && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 1'000) == 1) {
            char events[4096];
            [[maybe_unused]] const auto ignored = ::read(fd, events, sizeof events);
        }
        held = done();
    }
    ::close(fd);
    return held;
}

class SelfUpdate : public ::testing::Test {
protected:
    SelfUpdate() {
        fs::create_directories(home);
        // Neither the product's relay service nor this machine's router is asked from a test.
        fs::create_directories(home / ".config/tessaloy");
        std::ofstream(home / ".config/tessaloy/plovander.conf") << "[General]\nTessaloyConnect=false\n";
        fs::create_directories(runtime / "tessaloy");
        fs::permissions(runtime, fs::perms::owner_all);
        fs::create_directories(downloads);
    }

    // Starts `program` in a private home on the test's display, its updater pointed by `releases`,
    // with `settings` ("NAME=value") besides.
    pid_t launch(const fs::path& program, const fs::path& releases, const std::vector<std::string>& settings = {}) {
        // First, so that they win over inherited ones of the same names.
        std::vector<std::string> variables = settings;
        for (const std::string& setting : std::initializer_list<std::string>{
                 "DISPLAY=" + display.displayName(), "HOME=" + home.string(),
                 "XDG_CONFIG_HOME=" + (home / ".config").string(), "XDG_DATA_HOME=" + (home / ".local/share").string(),
                 "XDG_STATE_HOME=" + (home / ".local/state").string(), "XDG_CACHE_HOME=" + (home / ".cache").string(),
                 "XDG_RUNTIME_DIR=" + runtime.string(), "TESSALOY_TRACE=1",
                 // No session bus: without this, D-Bus forks a bus launcher from a thread of the
                 // sanitized program, and that child can hang before it runs.
                 "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (runtime / "no-bus").string(),
                 "TESSALOY_TRACE_FILE=" + (fixture.folder / "trace.log").string(),
                 // The display listing that start-up begins is still suspended when build 1 quits this soon.
                 std::string("ASAN_OPTIONS=detect_leaks=0"),
                 std::string(Plovander::TestReleases::variable) + "=" + releases.string(),
                 std::string("QT_QPA_PLATFORM=xcb")}) {
            variables.push_back(setting);
        }
        for (char** entry = environ; *entry; ++entry) variables.emplace_back(*entry);
        std::vector<char*> environment;
        for (auto& variable : variables) environment.push_back(variable.data());
        environment.push_back(nullptr);
        char* arguments[] = {const_cast<char*>(program.c_str()), nullptr};
        pid_t pid = 0;
        EXPECT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, arguments, environment.data()), 0);
        return pid;
    }

    Testing::ReleaseFixture fixture;
    const fs::path home = fixture.folder / "home";
    const fs::path runtime = fixture.folder / "run";
    const fs::path downloads = fixture.folder / "downloads";
    Testing::XvfbServer display;
};

TEST_F(SelfUpdate, TheInstalledProgramReplacesItselfAndTheNewCopyTakesOver) {
    // Build 1, as an install tree.
    const fs::path installed = fixture.folder / "v1/Plovander.app";
    const std::string install = std::string(PLOVANDER_CMAKE) + " --install " + PLOVANDER_BUILD_FOLDER + " --prefix " +
                                (fixture.folder / "v1").string() + " >/dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);
    fs::copy_file(PLOVANDER_TEST_PROGRAM, installed / "bin/plovander", fs::copy_options::overwrite_existing);
    Testing::ReleaseFixture::writeFile(installed / "Info.json",
                                       R"({"CFBundleIdentifier": "com.tessaloy.plovander.host", )"
                                       R"("CFBundleShortVersionString": "1.0", "CFBundleVersion": "1"})");

    // Build 2 on the release server.
    const fs::path source = fixture.folder / "v2/Plovander.app";
    fs::create_directories(source.parent_path());
    fs::copy(installed, source, fs::copy_options::recursive);
    Testing::ReleaseFixture::writeFile(source / "Info.json",
                                       R"({"CFBundleIdentifier": "com.tessaloy.plovander.host", )"
                                       R"("CFBundleShortVersionString": "2.0", "CFBundleVersion": "2"})");
    Testing::LoopbackHttpsServer server{TessaloyCore::ReleaseManifest::host()};
    fixture.publish(server, source, "/plovander/latest.json", "/plovander/Plovander-2.tar.zst");
    fs::remove_all(source);
    const pid_t first = launch(installed / "bin/plovander", fixture.pointUpdaterAt(server, {}, downloads));

    // Build 1 installs build 2, starts it and quits.
    ASSERT_TRUE(waitForExit(first, true));
    const fs::path lockFile = runtime / "tessaloy/plovander.lock";
    const auto holder = [&] {
        const std::string pid = contents(lockFile);
        return pid.empty() ? pid_t{0} : static_cast<pid_t>(std::stol(pid));
    };
    // Build 2 waited for it and holds the single-instance lock.
    ASSERT_TRUE(untilWritten(runtime / "tessaloy", [&] { return holder() != 0 && holder() != first; }));
    const pid_t second = holder();
    EXPECT_EQ(Plovander::InstalledCopy(installed).build(), 2);
    EXPECT_TRUE(fs::is_empty(downloads));
    EXPECT_EQ(std::distance(fs::directory_iterator(installed.parent_path()), fs::directory_iterator()), 1);

    ASSERT_EQ(::kill(second, SIGTERM), 0);
    EXPECT_TRUE(waitForExit(second, false));
    const std::string trace = contents(fixture.folder / "trace.log");
    EXPECT_NE(trace.find("installing 2.0 (2)"), std::string::npos) << trace;
}

// A quit during a download that would take a minute ends the program at once and cleanly, the
// download removed. A TMPDIR that names no folder stops nothing at start.
TEST_F(SelfUpdate, QuittingDuringTheDownloadEndsTheProgramAtOnceAndLeavesNothing) {
    const fs::path installed = Testing::ReleaseFixture::makeTree(fixture.folder / "v1", {.build = "1"});
    const fs::path source = Testing::ReleaseFixture::makeTree(fixture.folder / "v2", {.build = "2"});
    Testing::LoopbackHttpsServer server{TessaloyCore::ReleaseManifest::host()};
    fixture.publish(server, source, "/plovander/latest.json", "/plovander/Plovander-2.tar.zst", true);
    const pid_t pid = launch(PLOVANDER_TEST_PROGRAM, fixture.pointUpdaterAt(server, installed, downloads),
                             {"TMPDIR=" + (fixture.folder / "missing").string()});

    ASSERT_TRUE(untilWritten(downloads, [&] { return !fs::is_empty(downloads); }));
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(waitForExit(pid, true), 0);
    EXPECT_TRUE(fs::is_empty(downloads));
    EXPECT_EQ(Plovander::InstalledCopy(installed).build(), 1);
}

} // namespace
