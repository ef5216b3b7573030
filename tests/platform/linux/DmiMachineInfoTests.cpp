#include "platform/linux/DmiMachineInfo.h"

#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <vector>

namespace {

using Platform::Linux::DmiMachineInfo;
using TessaloyCore::MacKind;

TEST(DmiMachineInfo, TheFirmwaresNamesGiveTheModelAndTheKind) {
    struct Case {
        std::optional<std::string> productName; // as the kernel shows it, newline and all
        std::optional<std::string> chassisType;
        std::string model;
        MacKind kind;
    };
    const std::vector<Case> cases = {
        {"MacBookPro18,3\n", "10\n", "MacBookPro18,3", MacKind::laptop},
        {"Macmini9,1\n", "3\n", "Macmini9,1", MacKind::mini},
        {"ThinkPad X1 Carbon\n", "10\n", "ThinkPad X1 Carbon", MacKind::laptop},
        {"Standard PC (Q35 + ICH9, 2009)\n", "1\n", "Standard PC (Q35 + ICH9, 2009)", MacKind::desktop},
        {std::string("XPS 13 ") + '\0' + "\n", "31\n", "XPS 13", MacKind::laptop},
        {std::nullopt, std::nullopt, "Mac", MacKind::desktop},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.model);
        Testing::TemporaryDirectory dmi;
        if (test.productName) std::ofstream(dmi / "product_name") << *test.productName;
        if (test.chassisType) std::ofstream(dmi / "chassis_type") << *test.chassisType;
        const DmiMachineInfo info(dmi.path());
        EXPECT_EQ(info.modelName(), test.model);
        EXPECT_EQ(info.kind(), test.kind);
    }
}

TEST(DmiMachineInfo, TheHostNameIsTheSystems) { EXPECT_FALSE(DmiMachineInfo().hostName().empty()); }

} // namespace
