#pragma once

#include "platform/Environment.h"
#include "platform/ShareableDisplay.h"
#include "tests/support/FakeGamma.h"
#include "tests/support/FakeInputLock.h"
#include "tests/support/FakeInterfaces.h"
#include "tests/support/FakeLoginItems.h"
#include "tests/support/FakeMachineInfo.h"
#include "tests/support/FakeNetworkChanges.h"
#include "tests/support/FakePowerAssertion.h"
#include "tests/support/FakeServiceAdvertiser.h"
#include "tests/support/FakeWorkspace.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/MemoryKeychain.h"
#include "tests/support/MemoryUserDefaults.h"
#include "tests/support/TemporaryDirectory.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace Testing {

class FakeAudioCapture;
class FakePasteboard;
class FakeScreenCapture;

// The whole platform on fakes and memory: a manual main actor, settings and keychain in memory (saved
// in place), one fake 1920x1080 display, a recording service advertiser, recording fakes of the
// computer's facilities, and received files in a private temporary folder. A test environment that
// needs some real facilities derives from it and replaces their factories (see X11Environment).
class FakeEnvironment : public Platform::Environment {
public:
    FakeEnvironment();
    ~FakeEnvironment() override;

    TessaloyBase::MainActor& mainActor() override { return actor; }
    Platform::UserDefaults& userDefaults() override { return defaults; }
    TessaloyBase::Keychain& keychain() override { return keychainItems; }
    TessaloyBase::DiskQueue diskQueue() override { return disk; }

    std::shared_ptr<Platform::Displays> displays(std::string* whyNot) override;
    std::shared_ptr<Platform::ScreenCapture> screenCapture(TessaloyBase::SerialQueue& queue,
                                                           std::string* whyNot) override;
    std::shared_ptr<Platform::AudioCapture> audioCapture(TessaloyBase::SerialQueue& queue) override;
    TessaloyBase::ServiceAdvertiser::Factory serviceAdvertisers() override {
        return FakeServiceAdvertiser::factory(advertisements);
    }
    // The test's `listeners` when set, else the real LAN listener with the recording advertiser.
    std::shared_ptr<TessaloyNet::HostListener> hostListener(
        std::shared_ptr<const TessaloyNet::PairedDeviceStore> trusted) override {
        return listeners ? listeners(std::move(trusted)) : lanListener(std::move(trusted));
    }
    std::unique_ptr<Platform::Events> events(TessaloyBase::SerialQueue& queue, std::string* whyNot) override;
    std::unique_ptr<Platform::CursorImage> cursorImage(std::string* whyNot) override;
    std::shared_ptr<Platform::Pasteboard> pasteboard() override;
    std::shared_ptr<Platform::TransferFiles> transferFiles() override;

    Platform::Gamma& gamma() override { return gammaTables; }
    Platform::InputLock& inputLock() override { return localInput; }
    std::shared_ptr<Platform::PowerAssertion> powerAssertion() override { return sleepAssertion; }
    Platform::LoginItems& loginItems() override { return logins; }
    Platform::MachineInfo& machineInfo() override { return machine; }
    Platform::Interfaces& interfaces() override { return network; }
    Platform::Workspace& workspace() override { return desktopWorkspace; }
    std::unique_ptr<Platform::NetworkChanges> networkChanges(std::function<void()> onChange, std::string*) override {
        return networkWatch.watch(std::move(onChange));
    }
    void releaseFreedMemory() override { ++memoryReleases; }

    // The screen captures made so far that their owners still hold, newest last.
    std::vector<std::shared_ptr<FakeScreenCapture>> screenCaptures() const;
    // The sound captures made so far that their owners still hold, newest last.
    std::vector<std::shared_ptr<FakeAudioCapture>> audioCaptures() const;

    std::function<std::shared_ptr<TessaloyNet::HostListener>(std::shared_ptr<const TessaloyNet::PairedDeviceStore>)>
        listeners;
    ManualMainActor actor;
    MemoryUserDefaults defaults;
    MemoryKeychain keychainItems;
    // Saves run in place, unless a test gives the environment a queue before the controller is made.
    TessaloyBase::DiskQueue disk = TessaloyBase::DiskQueue::inPlace();
    TemporaryDirectory folder;
    std::vector<Platform::ShareableDisplay> displayList;
    std::atomic<bool> displaysFail{false};
    // Runs on the pool for blocking work as each listing of the displays begins; a test may hold
    // the listing there. Set it before the listing.
    std::function<void()> whileListing;
    // No display server takes posted input.
    bool eventsFail = false;
    std::shared_ptr<FakeServiceAdvertiser::Record> advertisements = std::make_shared<FakeServiceAdvertiser::Record>();
    FakeGamma gammaTables;
    FakeInputLock localInput;
    std::shared_ptr<FakePowerAssertion> sleepAssertion = std::make_shared<FakePowerAssertion>();
    FakeLoginItems logins;
    FakeMachineInfo machine;
    FakeInterfaces network;
    FakeNetworkChanges networkWatch;
    FakeWorkspace desktopWorkspace;
    std::atomic<int> memoryReleases{0};

private:
    mutable std::mutex lock_;
    // Weak: a capture must go before the queue it works on, which the test owns.
    std::vector<std::weak_ptr<FakeScreenCapture>> screenCaptures_;
    std::vector<std::weak_ptr<FakeAudioCapture>> audioCaptures_;
    std::shared_ptr<FakePasteboard> pasteboard_;
    std::shared_ptr<Platform::TransferFiles> transferFiles_;
};

} // namespace Testing
