#pragma once

#include "platform/Environment.h"
#include "platform/ShareableDisplay.h"
#include "tests/support/FakeServiceAdvertiser.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/MemoryKeychain.h"
#include "tests/support/MemoryUserDefaults.h"
#include "tests/support/TemporaryDirectory.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace Testing {

class FakeAudioCapture;
class FakePasteboard;
class FakeScreenCapture;

// The whole platform on fakes and memory: a manual main actor, settings and keychain in memory,
// one fake 1920x1080 display, a recording service advertiser, and received files in a private
// temporary folder. A test environment that needs some real facilities derives from it and
// replaces their factories (see X11Environment).
class FakeEnvironment : public Platform::Environment {
public:
    FakeEnvironment();
    ~FakeEnvironment() override;

    TessaloyBase::MainActor& mainActor() override { return actor; }
    Platform::UserDefaults& userDefaults() override { return defaults; }
    TessaloyBase::Keychain& keychain() override { return keychainItems; }

    std::unique_ptr<Platform::Displays> displays(std::string* whyNot) override;
    std::unique_ptr<Platform::ScreenCapture> screenCapture(TessaloyBase::SerialQueue& queue,
                                                           std::string* whyNot) override;
    std::unique_ptr<Platform::AudioCapture> audioCapture(TessaloyBase::SerialQueue& queue) override;
    std::unique_ptr<TessaloyBase::ServiceAdvertiser> serviceAdvertiser(
        TessaloyBase::SerialQueue& queue, TessaloyBase::ServiceAdvertiser::StateHandler onState) override;
    std::unique_ptr<Platform::Events> events(TessaloyBase::SerialQueue& queue, std::string* whyNot) override;
    std::unique_ptr<Platform::CursorImage> cursorImage(std::string* whyNot) override;
    std::shared_ptr<Platform::Pasteboard> pasteboard() override;
    std::shared_ptr<Platform::TransferFiles> transferFiles() override;
    std::string hostName() override { return host; }
    TessaloyCore::MacKind machineKind() override { return TessaloyCore::MacKind::desktop; }

    // The screen captures made so far, newest last (they live as long as their owner keeps them).
    std::vector<FakeScreenCapture*> screenCaptures() const;
    // The sound captures made so far, newest last (the same holds).
    std::vector<FakeAudioCapture*> audioCaptures() const;

    ManualMainActor actor;
    MemoryUserDefaults defaults;
    MemoryKeychain keychainItems;
    TemporaryDirectory folder;
    std::vector<Platform::ShareableDisplay> displayList;
    std::atomic<bool> displaysFail{false};
    std::shared_ptr<FakeServiceAdvertiser::Record> advertisements = std::make_shared<FakeServiceAdvertiser::Record>();
    std::string host = "Test Mac";

private:
    mutable std::mutex lock_;
    std::vector<FakeScreenCapture*> screenCaptures_;
    std::vector<FakeAudioCapture*> audioCaptures_;
    std::shared_ptr<FakePasteboard> pasteboard_;
    std::shared_ptr<Platform::TransferFiles> transferFiles_;
};

} // namespace Testing
