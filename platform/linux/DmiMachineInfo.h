#pragma once

#include "platform/MachineInfo.h"

#include <filesystem>

namespace Platform::Linux {

// This computer as its firmware describes it: the device tree's model, else the DMI tables the
// kernel shows under sys/class/dmi/id. The names and the kind are read once when made, below
// `root` ("/" but for tests); the host name and the wake setting are asked each time.
class DmiMachineInfo final : public MachineInfo {
public:
    // What the model name falls back to when the firmware names none.
    static constexpr const char* unnamedModel = "Mac";

    explicit DmiMachineInfo(std::filesystem::path root = "/");

    std::string modelName() const override { return modelName_; }
    TessaloyCore::MacKind kind() const override { return kind_; }
    std::string hostName() const override;
    std::string systemDescription() const override;
    std::optional<bool> wakeForNetworkAccess() const override;

private:
    std::filesystem::path root_;
    std::string modelName_;
    TessaloyCore::MacKind kind_;
};

} // namespace Platform::Linux
