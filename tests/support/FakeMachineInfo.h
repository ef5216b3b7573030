#pragma once

#include "platform/MachineInfo.h"

namespace Testing {

// A computer that is what the test says.
class FakeMachineInfo final : public Platform::MachineInfo {
public:
    std::string model = "Test Model";
    TessaloyCore::MacKind machineKind = TessaloyCore::MacKind::desktop;
    std::string host = "Test Mac";
    std::string system = "Test System 1.0";
    std::optional<bool> wakes;

    std::string modelName() const override { return model; }
    TessaloyCore::MacKind kind() const override { return machineKind; }
    std::string hostName() const override { return host; }
    std::string systemDescription() const override { return system; }
    std::optional<bool> wakeForNetworkAccess() const override { return wakes; }
};

} // namespace Testing
