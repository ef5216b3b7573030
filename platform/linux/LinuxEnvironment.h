#pragma once

#include "platform/Environment.h"
#include "platform/linux/FileKeychain.h"
#include "platform/linux/QtMainActor.h"
#include "platform/linux/SettingsUserDefaults.h"

#include <string>
#include <vector>

namespace Platform::Linux {

// The real facilities: Qt's main thread, the user's settings and keychain folder, X11, PulseAudio,
// Avahi and Qt's clipboard. Create it on the Qt main thread once the Qt application exists.
class LinuxEnvironment final : public Environment {
public:
    explicit LinuxEnvironment(const std::vector<std::string>& launchArguments);

    TessaloyBase::MainActor& mainActor() override { return mainActor_; }
    UserDefaults& userDefaults() override { return defaults_; }
    TessaloyBase::Keychain& keychain() override { return keychain_; }

    std::unique_ptr<Displays> displays(std::string* whyNot) override;
    std::unique_ptr<ScreenCapture> screenCapture(TessaloyBase::SerialQueue& queue, std::string* whyNot) override;
    std::unique_ptr<AudioCapture> audioCapture(TessaloyBase::SerialQueue& queue) override;
    std::unique_ptr<TessaloyBase::ServiceAdvertiser> serviceAdvertiser(
        TessaloyBase::SerialQueue& queue, TessaloyBase::ServiceAdvertiser::StateHandler onState) override;
    std::unique_ptr<Events> events(TessaloyBase::SerialQueue& queue, std::string* whyNot) override;
    std::unique_ptr<CursorImage> cursorImage(std::string* whyNot) override;
    std::shared_ptr<Pasteboard> pasteboard() override;
    std::shared_ptr<TransferFiles> transferFiles() override;

    std::string hostName() override;
    TessaloyCore::MacKind machineKind() override;

private:
    QtMainActor mainActor_;
    SettingsUserDefaults defaults_;
    FileKeychain keychain_;
    std::shared_ptr<Pasteboard> pasteboard_;
    std::shared_ptr<TransferFiles> transferFiles_;
};

} // namespace Platform::Linux
