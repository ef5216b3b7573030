#include "platform/Environment.h"

#include "net/channel/LANHostListener.h"

#include "platform/MachineInfo.h"

namespace Platform {

std::shared_ptr<TessaloyNet::HostListener> Environment::lanListener(
    std::shared_ptr<const TessaloyNet::PairedDeviceStore> trusted) {
    return TessaloyNet::LANHostListener::create(std::move(trusted), serviceAdvertisers(), {}, machineKind());
}

std::string Environment::hostName() { return machineInfo().hostName(); }

TessaloyCore::MacKind Environment::machineKind() { return machineInfo().kind(); }

} // namespace Platform
