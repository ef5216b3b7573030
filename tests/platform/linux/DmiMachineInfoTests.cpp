#include "platform/linux/DmiMachineInfo.h"

#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <vector>

namespace {

using Platform::Linux::DmiMachineInfo;
using TessaloyCore::MacKind;

TEST(DmiMachineInfo, TheFirmwaresNamesGiveTheModelAndTheKind) {
    struct Case {
        std::string name;
        std::map<std::string, std::string> files; // below the root, as the kernel shows them
        std::string model;
        MacKind kind;
    };
    const std::vector<Case> cases = {
        {"Apple laptop by its device tree",
         {{"proc/device-tree/model", std::string("MacBook Air (M1, 2020)") + '\0'}},
         "MacBook Air (M1, 2020)",
         MacKind::laptop},
        {"Apple mini by its DMI model",
         {{"sys/class/dmi/id/sys_vendor", "Apple Inc.\n"},
          {"sys/class/dmi/id/product_name", "Macmini8,1\n"},
          {"sys/class/dmi/id/chassis_type", "10\n"}},
         "Macmini8,1",
         MacKind::mini},
        {"Apple machine of no known kind ignores its chassis",
         {{"sys/class/dmi/id/sys_vendor", "Apple Inc.\n"},
          {"sys/class/dmi/id/product_name", "Xserve3,1\n"},
          {"sys/class/dmi/id/chassis_type", "10\n"}},
         "Xserve3,1",
         MacKind::desktop},
        {"laptop with a family",
         {{"sys/class/dmi/id/sys_vendor", "LENOVO\n"},
          {"sys/class/dmi/id/product_family", "ThinkPad X1 Carbon Gen 9\n"},
          {"sys/class/dmi/id/product_name", "20XW0055GE\n"},
          {"sys/class/dmi/id/chassis_type", "10\n"}},
         "ThinkPad X1 Carbon Gen 9",
         MacKind::laptop},
        {"desktop with placeholder family",
         {{"sys/class/dmi/id/product_family", "To be filled by O.E.M.\n"},
          {"sys/class/dmi/id/product_name", "OptiPlex 7090\n"},
          {"sys/class/dmi/id/chassis_type", "3\n"}},
         "OptiPlex 7090",
         MacKind::desktop},
        {"virtual machine without DMI", {}, "Mac", MacKind::desktop},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Testing::TemporaryDirectory root;
        for (const auto& [path, text] : test.files) {
            std::filesystem::create_directories((root / path).parent_path());
            std::ofstream(root / path, std::ios::binary) << text;
        }
        const DmiMachineInfo info(root.path());
        EXPECT_EQ(info.modelName(), test.model);
        EXPECT_EQ(info.kind(), test.kind);
    }
}

TEST(DmiMachineInfo, TheHostNameIsTheSystems) { EXPECT_FALSE(DmiMachineInfo().hostName().empty()); }

} // namespace
