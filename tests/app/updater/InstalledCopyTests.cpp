#include "app/updater/InstalledCopy.h"
#include "tests/app/updater/ReleaseFixture.h"

#include <gtest/gtest.h>

namespace {

using Plovander::InstalledCopy;

TEST(InstalledCopy, BuildNumbersAreWholeSignedDecimalsWithinSixtyFourBits) {
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {"57", 57},
        {"+57", 57},
        {"-3", -3},
        {"007", 7},
        {"", {}},
        {"+", {}},
        {"+-5", {}},
        {"12a", {}},
        {" 1", {}},
        {"1.0", {}},
        {"9223372036854775807", INT64_MAX},
        {"9223372036854775808", {}},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(InstalledCopy::parseBuild(text), expected) << text;
}

TEST(InstalledCopy, ReplacesItselfOnlyWhenBothItsTreeAndTheFolderAboveCanBeWritten) {
    Testing::TemporaryDirectory folder;
    const InstalledCopy copy(Testing::ReleaseFixture::makeTree(folder.path(), {.build = "5"}));
    EXPECT_EQ(copy.build(), 5);
    EXPECT_TRUE(copy.canReplaceItself([](const auto&) { return true; }));
    EXPECT_FALSE(copy.canReplaceItself([&](const auto& path) { return path != folder.path(); }));
    EXPECT_FALSE(copy.canReplaceItself([&](const auto& path) { return path == folder.path(); }));
    // A build folder has no Info.json: nothing to replace.
    EXPECT_FALSE(InstalledCopy(folder.path()).canReplaceItself([](const auto&) { return true; }));
}

} // namespace
