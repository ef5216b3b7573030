#include "platform/linux/SpawnRelauncher.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using Outcome = Platform::Relauncher::Outcome;

fs::path script(const fs::path& folder, const std::string& name, const std::string& body) {
    const fs::path path = folder / name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

TEST(SpawnRelauncher, TheNewCopyGetsThisProcessIdAndIsConfirmedByItsReadyByte) {
    Testing::TemporaryDirectory folder;
    const fs::path record = folder / "arguments";
    const auto program = script(folder.path(), "ready",
                                "echo \"$1 $2\" > " + record.string() + "\nprintf 1 >&\"$PLOVANDER_READY_FD\"\n");
    const auto result = Platform::SpawnRelauncher().start(program, std::chrono::seconds(10));
    EXPECT_EQ(result.outcome, Outcome::confirmed);
    std::ostringstream arguments;
    arguments << std::ifstream(record).rdbuf();
    EXPECT_EQ(arguments.str(), "-TessaloyAfterUpdate " + std::to_string(::getpid()) + "\n");
}

TEST(SpawnRelauncher, AStartThatFailsIsNeverReportedAsSuccess) {
    Testing::TemporaryDirectory folder;
    Platform::SpawnRelauncher relauncher;
    const auto missing = relauncher.start(folder / "missing", std::chrono::seconds(10));
    EXPECT_EQ(missing.outcome, Outcome::failed);
    EXPECT_FALSE(missing.error.empty());
    const auto endsEarly = relauncher.start(script(folder.path(), "quits", "exit 3\n"), std::chrono::seconds(10));
    EXPECT_EQ(endsEarly.outcome, Outcome::failed);
}

} // namespace
