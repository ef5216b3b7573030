#include "platform/linux/LinuxEnvironment.h"
#include "platform/linux/AvahiServiceAdvertiser.h"

#include "platform/AudioCapture.h"
#include "platform/CursorImage.h"
#include "platform/Displays.h"
#include "platform/Events.h"
#include "platform/Pasteboard.h"
#include "platform/ScreenCapture.h"
#include "platform/TransferFiles.h"

#include <unistd.h>

#include <climits>
#include <fstream>

namespace Platform::Linux {
namespace {

std::string firstLineOf(const char* path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

// SMBIOS chassis types of portable computers: portable, laptop, notebook, sub notebook,
// convertible, detachable.
bool chassisIsPortable() {
    const std::string type = firstLineOf("/sys/class/dmi/id/chassis_type");
    for (const char* portable : {"8", "9", "10", "14", "31", "32"}) {
        if (type == portable) return true;
    }
    return false;
}

} // namespace

LinuxEnvironment::LinuxEnvironment(const std::vector<std::string>& launchArguments)
    : defaults_(SettingsUserDefaults::defaultPath(), UserDefaults::parseLaunchArguments(launchArguments)),
      keychain_(FileKeychain::defaultRoot()) {}

std::unique_ptr<Displays> LinuxEnvironment::displays(std::string* whyNot) { return Displays::create({}, whyNot); }

std::unique_ptr<ScreenCapture> LinuxEnvironment::screenCapture(TessaloyBase::SerialQueue& queue, std::string* whyNot) {
    return ScreenCapture::create(queue, {}, whyNot);
}

std::unique_ptr<AudioCapture> LinuxEnvironment::audioCapture(TessaloyBase::SerialQueue& queue) {
    return AudioCapture::create(queue);
}

std::unique_ptr<TessaloyBase::ServiceAdvertiser> LinuxEnvironment::serviceAdvertiser(
    TessaloyBase::SerialQueue& queue, TessaloyBase::ServiceAdvertiser::StateHandler onState) {
    return AvahiServiceAdvertiser::create(queue, std::move(onState));
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

std::string LinuxEnvironment::hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

TessaloyCore::MacKind LinuxEnvironment::machineKind() {
    if (const auto kind = TessaloyCore::macKind(firstLineOf("/sys/class/dmi/id/product_name"))) return *kind;
    return chassisIsPortable() ? TessaloyCore::MacKind::laptop : TessaloyCore::MacKind::desktop;
}

} // namespace Platform::Linux
