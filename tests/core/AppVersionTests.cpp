#include "core/AppVersion.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

using namespace TessaloyCore;

TEST(AppVersion, DisplayIsMarketingThenBuildInParentheses) {
    const std::string marketing = AppVersion::marketing();
    const std::string build = AppVersion::build();
    EXPECT_EQ(AppVersion::display(), marketing + " (" + build + ")");
    // The build system always gives both.
    EXPECT_TRUE(std::regex_match(marketing, std::regex("[0-9]+(\\.[0-9]+)*"))) << marketing;
    EXPECT_FALSE(build.empty());
    EXPECT_NE(build, "?");
}

} // namespace
