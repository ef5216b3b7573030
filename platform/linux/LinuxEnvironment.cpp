#include "platform/linux/LinuxEnvironment.h"
#include "platform/linux/AvahiServiceAdvertiser.h"

#include "platform/AudioCapture.h"
#include "platform/CursorImage.h"
#include "platform/Displays.h"
#include "platform/Events.h"
#include "platform/Gamma.h"
#include "platform/InputLock.h"
#include "platform/Interfaces.h"
#include "platform/LoginItems.h"
#include "platform/MachineInfo.h"
#include "platform/NetworkChanges.h"
#include "platform/Pasteboard.h"
#include "platform/PowerAssertion.h"
#include "platform/ScreenCapture.h"
#include "platform/TransferFiles.h"
#include "platform/Workspace.h"

namespace Platform {

std::unique_ptr<Environment> Environment::create(const std::vector<std::string>& launchArguments) {
    return std::make_unique<Linux::LinuxEnvironment>(launchArguments);
}

namespace Linux {

LinuxEnvironment::LinuxEnvironment(const std::vector<std::string>& launchArguments)
    : allocator_(MemoryAllocator::create()),
      defaults_(SettingsUserDefaults::defaultPath(), UserDefaults::parseLaunchArguments(launchArguments), disk_),
      keychain_(FileKeychain::defaultRoot()),
      gamma_(Gamma::create()),
      inputLock_(InputLock::create()),
      powerAssertion_(PowerAssertion::create()),
      loginItems_(LoginItems::create()),
      machineInfo_(MachineInfo::create()),
      interfaces_(Interfaces::create()),
      workspace_(Workspace::create()) {}

// The saves still queued use the settings and the keychain.
LinuxEnvironment::~LinuxEnvironment() { disk_.drain(); }

std::shared_ptr<Displays> LinuxEnvironment::displays(std::string* whyNot) { return Displays::create({}, whyNot); }

std::shared_ptr<ScreenCapture> LinuxEnvironment::screenCapture(TessaloyBase::SerialQueue& queue, std::string* whyNot) {
    return ScreenCapture::create(queue, {}, whyNot);
}

std::shared_ptr<AudioCapture> LinuxEnvironment::audioCapture(TessaloyBase::SerialQueue& queue) {
    return AudioCapture::create(queue);
}

TessaloyBase::ServiceAdvertiser::Factory LinuxEnvironment::serviceAdvertisers() {
    return AvahiServiceAdvertiser::create;
}

std::unique_ptr<Events> LinuxEnvironment::events(TessaloyBase::SerialQueue& queue, std::string* whyNot) {
    return Events::create(queue, {}, whyNot);
}

std::unique_ptr<CursorImage> LinuxEnvironment::cursorImage(std::string* whyNot) {
    return CursorImage::create({}, whyNot);
}

std::shared_ptr<Pasteboard> LinuxEnvironment::pasteboard() {
    if (!pasteboard_) pasteboard_ = Pasteboard::create();
    return pasteboard_;
}

std::shared_ptr<TransferFiles> LinuxEnvironment::transferFiles() {
    if (!transferFiles_) transferFiles_ = TransferFiles::create();
    return transferFiles_;
}

std::unique_ptr<NetworkChanges> LinuxEnvironment::networkChanges(std::function<void()> onChange, std::string* whyNot) {
    return NetworkChanges::create(std::move(onChange), whyNot);
}

} // namespace Linux
} // namespace Platform
