#include <gtest/gtest.h>

#include "app/updater/InstalledCopy.h"
#include "app/updater/TestReleases.h"
#include "tests/app/updater/ReleaseFixture.h"
#include "tests/support/LoopbackHttpsServer.h"
#include "tests/support/ProgramHome.h"
#include "tests/support/XvfbServer.h"

#include <signal.h>

#include <fstream>
#include <vector>

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

class SelfUpdate : public ::testing::Test {
protected:
    SelfUpdate() { fs::create_directories(downloads); }

    // Starts `program` in a private home on the test's display, its updater pointed by `releases`,
    // with `settings` ("NAME=value") besides.
    pid_t launch(const fs::path& program, const fs::path& releases, std::vector<std::string> settings = {}) {
        settings.push_back(std::string(Plovander::TestReleases::variable) + "=" + releases.string());
        return programHome.start({program.string()}, display.displayName(), settings);
    }

    Testing::ReleaseFixture fixture;
    const Testing::ProgramHome programHome{fixture.folder.path()};
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
    ASSERT_TRUE(Testing::waitForExit(first, true, patience));
    const fs::path lockFile = programHome.runtime / "tessaloy/plovander.lock";
    const auto holder = [&] {
        const std::string pid = contents(lockFile);
        return pid.empty() ? pid_t{0} : static_cast<pid_t>(std::stol(pid));
    };
    // Build 2 waited for it and holds the single-instance lock.
    ASSERT_TRUE(Testing::untilWritten(
        programHome.runtime / "tessaloy", [&] { return holder() != 0 && holder() != first; }, patience));
    const pid_t second = holder();
    EXPECT_EQ(Plovander::InstalledCopy(installed).build(), 2);
    EXPECT_TRUE(fs::is_empty(downloads));
    EXPECT_EQ(std::distance(fs::directory_iterator(installed.parent_path()), fs::directory_iterator()), 1);

    ASSERT_EQ(::kill(second, SIGTERM), 0);
    EXPECT_TRUE(Testing::waitForExit(second, false, patience));
    const std::string trace = contents(programHome.trace);
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

    ASSERT_TRUE(Testing::untilWritten(
        downloads, [&] { return !fs::is_empty(downloads); }, patience));
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(Testing::waitForExit(pid, true, patience), 0);
    EXPECT_TRUE(fs::is_empty(downloads));
    EXPECT_EQ(Plovander::InstalledCopy(installed).build(), 1);
}

} // namespace
