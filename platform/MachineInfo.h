#pragma once

#include "core/MacKind.h"

#include <memory>
#include <optional>
#include <string>

namespace Platform {

// What this computer is. Any thread.
class MachineInfo {
public:
    static std::unique_ptr<MachineInfo> create();

    virtual ~MachineInfo() = default;

    // The model's name as its maker sells it (else its model), for the paired device.
    virtual std::string modelName() const = 0;
    // What kind of computer this is, for the service record; fixed for the life of the process.
    virtual TessaloyCore::MacKind kind() const = 0;
    // This computer's name on the network; empty when it has none.
    virtual std::string hostName() const = 0;
    // The operating system and its version, for the paired device.
    virtual std::string systemDescription() const = 0;
    // Whether a wired interface wakes the computer when the network asks; nullopt when no
    // interface can tell. May block: never call it on the main thread.
    virtual std::optional<bool> wakeForNetworkAccess() const = 0;
};

} // namespace Platform
