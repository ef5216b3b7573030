#include "platform/Environment.h"

#include "platform/MachineInfo.h"

namespace Platform {

std::string Environment::hostName() { return machineInfo().hostName(); }

TessaloyCore::MacKind Environment::machineKind() { return machineInfo().kind(); }

} // namespace Platform
