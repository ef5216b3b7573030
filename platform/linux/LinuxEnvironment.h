#pragma once

#include "platform/Environment.h"
#include "platform/MemoryAllocator.h"
#include "platform/linux/FileKeychain.h"
#include "platform/linux/QtMainActor.h"
#include "platform/linux/SettingsUserDefaults.h"

#include <string>
#include <vector>

namespace Platform::Linux {

// The real facilities: Qt's main thread, the user's settings and keychain folder, X11, PulseAudio,
// Avahi, logind and Qt's clipboard. Create it on the Qt main thread once the Qt application exists.
class LinuxEnvironment final : public Environment {
public:
    explicit LinuxEnvironment(const std::vector<std::string>& launchArguments);
    ~LinuxEnvironment() override;

    TessaloyBase::MainActor& mainActor() override { return mainActor_; }
    UserDefaults& userDefaults() override { return defaults_; }
    TessaloyBase::Keychain& keychain() override { return keychain_; }
    TessaloyBase::DiskQueue diskQueue() override { return disk_; }

    std::shared_ptr<Displays> displays(std::string* whyNot) override;
    std::shared_ptr<ScreenCapture> screenCapture(TessaloyBase::SerialQueue& queue, std::string* whyNot) override;
    std::shared_ptr<AudioCapture> audioCapture(TessaloyBase::SerialQueue& queue) override;
    TessaloyBase::ServiceAdvertiser::Factory serviceAdvertisers() override;
    std::shared_ptr<TessaloyNet::HostListener> hostListener(
        std::shared_ptr<const TessaloyNet::PairedDeviceStore> trusted) override {
        return lanListener(std::move(trusted));
    }
    std::unique_ptr<Events> events(TessaloyBase::SerialQueue& queue, std::string* whyNot) override;
    std::unique_ptr<CursorImage> cursorImage(std::string* whyNot) override;
    std::shared_ptr<Pasteboard> pasteboard() override;
    std::shared_ptr<TransferFiles> transferFiles() override;

    Gamma& gamma() override { return *gamma_; }
    InputLock& inputLock() override { return *inputLock_; }
    std::shared_ptr<PowerAssertion> powerAssertion() override { return powerAssertion_; }
    LoginItems& loginItems() override { return *loginItems_; }
    MachineInfo& machineInfo() override { return *machineInfo_; }
    Interfaces& interfaces() override { return *interfaces_; }
    Workspace& workspace() override { return *workspace_; }
    std::unique_ptr<NetworkChanges> networkChanges(std::function<void()> onChange, std::string* whyNot) override;

    void releaseFreedMemory() override { allocator_->releaseFreed(); }

private:
    // First, so the allocator is held to few pools before anything here starts a thread.
    std::unique_ptr<MemoryAllocator> allocator_;
    QtMainActor mainActor_;
    TessaloyBase::DiskQueue disk_;
    SettingsUserDefaults defaults_;
    FileKeychain keychain_;
    std::shared_ptr<Pasteboard> pasteboard_;
    std::shared_ptr<TransferFiles> transferFiles_;
    std::unique_ptr<Gamma> gamma_;
    std::unique_ptr<InputLock> inputLock_;
    std::shared_ptr<PowerAssertion> powerAssertion_;
    std::unique_ptr<LoginItems> loginItems_;
    std::unique_ptr<MachineInfo> machineInfo_;
    std::unique_ptr<Interfaces> interfaces_;
    std::unique_ptr<Workspace> workspace_;
};

} // namespace Platform::Linux
