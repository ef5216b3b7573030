#include "core/MacKind.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using namespace TessaloyCore;

TEST(MacKind, ProductAndModelNames) {
    const std::vector<std::pair<std::string, std::optional<MacKind>>> cases{
        {"MacBook Pro", MacKind::laptop}, // laptop is tested before pro
        {"MacBook Air", MacKind::laptop}, {"MacBookPro18,3", MacKind::laptop},
        {"Mac mini", MacKind::mini},      {"Macmini9,1", MacKind::mini},
        {"Mac Studio", MacKind::studio},  {"Mac Pro", MacKind::pro},
        {"MacPro7,1", MacKind::pro},      {"iMac", MacKind::imac},
        {"iMac21,1", MacKind::imac},      {"iMac Pro", MacKind::imac},
    };
    for (const auto& [name, kind] : cases) EXPECT_EQ(macKind(name), kind) << name;
}

TEST(MacKind, BlanksAndCaseDoNotMatter) {
    EXPECT_EQ(macKind("  m a c b o o k"), MacKind::laptop);
    EXPECT_EQ(macKind("\tMAC\tMINI"), MacKind::mini);
    EXPECT_EQ(macKind("mAc   sTuDiO (2023)"), MacKind::studio);
    EXPECT_EQ(macKind("M a c P r o"), MacKind::pro);
    EXPECT_EQ(macKind("IMAC"), MacKind::imac);
    EXPECT_EQ(macKind("i Mac"), MacKind::imac);
}

TEST(MacKind, AnythingElseIsNoKind) {
    for (const std::string name :
         {"", " ", "Mac", "Mac13,1", "ThinkPad X1", "Power Mac G5", "MyMacBook", "i-Mac", "Mac\nmini", "Mac_mini"}) {
        EXPECT_EQ(macKind(name), std::nullopt) << name;
    }
}

TEST(MacKind, CaseNames) {
    EXPECT_STREQ(nameOf(MacKind::laptop), "laptop");
    EXPECT_STREQ(nameOf(MacKind::mini), "mini");
    EXPECT_STREQ(nameOf(MacKind::studio), "studio");
    EXPECT_STREQ(nameOf(MacKind::pro), "pro");
    EXPECT_STREQ(nameOf(MacKind::imac), "imac");
    EXPECT_STREQ(nameOf(MacKind::desktop), "desktop");
}

} // namespace
