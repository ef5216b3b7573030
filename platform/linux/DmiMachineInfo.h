#pragma once

#include "platform/MachineInfo.h"

#include <filesystem>

namespace Platform::Linux {

// This computer as its firmware describes it (the DMI tables the kernel shows under
// /sys/class/dmi/id), read once when made; the host name is asked each time.
class DmiMachineInfo final : public MachineInfo {
public:
    // What the model name falls back to when the firmware names none.
    static constexpr const char* unnamedModel = "Mac";

    explicit DmiMachineInfo(const std::filesystem::path& dmiFolder = "/sys/class/dmi/id");

    std::string modelName() const override { return modelName_; }
    TessaloyCore::MacKind kind() const override { return kind_; }
    std::string hostName() const override;
    std::string systemDescription() const override;

private:
    std::string modelName_;
    TessaloyCore::MacKind kind_;
};

} // namespace Platform::Linux
