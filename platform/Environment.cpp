#include "platform/Environment.h"

#include "net/channel/LANHostListener.h"

#include "platform/MachineInfo.h"

namespace Platform {

std::shared_ptr<TessaloyNet::HostListener> Environment::lanListener(
    std::shared_ptr<const TessaloyNet::PairedDeviceStore> trusted) {
    auto advertisers = [this](TessaloyBase::SerialQueue& queue, TessaloyBase::ServiceAdvertiser::StateHandler onState) {
        return serviceAdvertiser(queue, std::move(onState));
    };
    return TessaloyNet::LANHostListener::create(std::move(trusted), advertisers, {}, machineKind());
}

std::string Environment::hostName() { return machineInfo().hostName(); }

TessaloyCore::MacKind Environment::machineKind() { return machineInfo().kind(); }

} // namespace Platform
