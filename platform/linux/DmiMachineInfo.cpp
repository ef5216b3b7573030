#include "platform/linux/DmiMachineInfo.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <fstream>

namespace Platform {

std::unique_ptr<MachineInfo> MachineInfo::create() { return std::make_unique<Linux::DmiMachineInfo>(); }

namespace Linux {
namespace {

std::string firstLineOf(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\0')) line.pop_back();
    return line;
}

// SMBIOS chassis types of portable computers: portable, laptop, notebook, sub notebook,
// convertible, detachable.
bool chassisIsPortable(const std::string& type) {
    for (const char* portable : {"8", "9", "10", "14", "31", "32"}) {
        if (type == portable) return true;
    }
    return false;
}

} // namespace

DmiMachineInfo::DmiMachineInfo(const std::filesystem::path& dmiFolder) {
    const std::string product = firstLineOf(dmiFolder / "product_name");
    modelName_ = product.empty() ? unnamedModel : product;
    if (const auto kind = TessaloyCore::macKind(product)) {
        kind_ = *kind;
    } else {
        kind_ = chassisIsPortable(firstLineOf(dmiFolder / "chassis_type")) ? TessaloyCore::MacKind::laptop
                                                                           : TessaloyCore::MacKind::desktop;
    }
}

std::string DmiMachineInfo::hostName() const {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string DmiMachineInfo::systemDescription() const {
    utsname name{};
    if (::uname(&name) != 0) return "Linux";
    return std::string(name.sysname) + " " + name.release;
}

} // namespace Linux
} // namespace Platform
