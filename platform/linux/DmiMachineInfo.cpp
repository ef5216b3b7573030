#include "platform/linux/DmiMachineInfo.h"

#include "platform/linux/FileDescriptor.h"

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>

namespace Platform {

std::unique_ptr<MachineInfo> MachineInfo::create() { return std::make_unique<Linux::DmiMachineInfo>(); }

namespace Linux {
namespace {

// The file's text up to its first zero byte or line end, without trailing spaces.
std::string firstLineOf(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::string text(std::istreambuf_iterator<char>(file), {});
    text = text.substr(0, text.find_first_of(std::string_view("\0\n", 2)));
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
}

// What firmware writers leave in a DMI field they did not fill in.
bool isPlaceholder(const std::string& value) {
    static constexpr std::array<std::string_view, 10> placeholders = {"to be filled by o.e.m.",
                                                                      "default string",
                                                                      "system product name",
                                                                      "not applicable",
                                                                      "not specified",
                                                                      "none",
                                                                      "o.e.m.",
                                                                      "system version",
                                                                      "type1productconfigid",
                                                                      "invalid"};
    std::string lower;
    std::transform(value.begin(), value.end(), std::back_inserter(lower),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.empty() || std::find(placeholders.begin(), placeholders.end(), lower) != placeholders.end();
}

// SMBIOS chassis types of portable computers: portable, laptop, notebook, sub notebook,
// convertible, detachable.
bool chassisIsPortable(const std::string& type) {
    static constexpr std::array<std::string_view, 6> portable = {"8", "9", "10", "14", "31", "32"};
    return std::find(portable.begin(), portable.end(), type) != portable.end();
}

// Whether the interface reports magic-packet wake as on; nullopt when the driver cannot say.
std::optional<bool> wakesOnMagicPacket(int socket, const std::string& name) {
    ethtool_wolinfo wake{};
    wake.cmd = ETHTOOL_GWOL;
    ifreq request{};
    if (name.size() >= sizeof request.ifr_name) return std::nullopt;
    std::memcpy(request.ifr_name, name.data(), name.size());
    request.ifr_data = reinterpret_cast<char*>(&wake);
    if (::ioctl(socket, SIOCETHTOOL, &request) != 0 || !(wake.supported & WAKE_MAGIC)) return std::nullopt;
    return (wake.wolopts & WAKE_MAGIC) != 0;
}

} // namespace

DmiMachineInfo::DmiMachineInfo(std::filesystem::path root) : root_(std::move(root)) {
    const std::filesystem::path dmi = root_ / "sys/class/dmi/id";
    std::string marketing = firstLineOf(root_ / "proc/device-tree/model");
    if (marketing.empty()) marketing = firstLineOf(dmi / "product_family");
    if (isPlaceholder(marketing)) marketing.clear();
    std::string model = firstLineOf(dmi / "product_name");
    if (isPlaceholder(model)) model.clear();

    modelName_ = !marketing.empty() ? marketing : !model.empty() ? model : unnamedModel;
    if (const auto kind = TessaloyCore::macKind(marketing)) {
        kind_ = *kind;
    } else if (const auto modelKind = TessaloyCore::macKind(model)) {
        kind_ = *modelKind;
    } else {
        const bool apple = firstLineOf(dmi / "sys_vendor").starts_with("Apple");
        kind_ = !apple && chassisIsPortable(firstLineOf(dmi / "chassis_type")) ? TessaloyCore::MacKind::laptop
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

std::optional<bool> DmiMachineInfo::wakeForNetworkAccess() const {
    const FileDescriptor socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0) return std::nullopt;
    std::optional<bool> wakes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(root_ / "sys/class/net", error)) {
        // Only links with a device behind them can wake the computer.
        if (!std::filesystem::exists(entry.path() / "device", error)) continue;
        const auto answer = wakesOnMagicPacket(socket.get(), entry.path().filename().string());
        if (answer) wakes = wakes.value_or(false) || *answer;
    }
    return wakes;
}

} // namespace Linux
} // namespace Platform
