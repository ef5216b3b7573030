#include "tests/support/FakeEnvironment.h"

#include "platform/linux/XdgTransferFiles.h"
#include "tests/support/FakeAudioCapture.h"
#include "tests/support/FakeCursorImage.h"
#include "tests/support/FakeDisplays.h"
#include "tests/support/FakeEvents.h"
#include "tests/support/FakePasteboard.h"
#include "tests/support/FakeScreenCapture.h"

namespace Testing {

FakeEnvironment::FakeEnvironment()
    : displayList{FakeDisplays::display(1, 1920, 1080)},
      pasteboard_(std::make_shared<FakePasteboard>()),
      transferFiles_(std::make_shared<Platform::Linux::XdgTransferFiles>(folder / "Downloads", folder / "work")) {
    // The product's relay service and the machine's router are not for tests: a test that wants the
    // relay road switches it on and points it at a relay of its own.
    defaults.setBoolean("TessaloyConnect", false);
    defaults.setBoolean("TessaloyOpenRouterPort", false);
}

// The saves still queued use the keychain.
FakeEnvironment::~FakeEnvironment() { disk.drain(); }

std::shared_ptr<Platform::Displays> FakeEnvironment::displays(std::string* whyNot) {
    if (whileListing) whileListing();
    if (displaysFail) {
        if (whyNot) *whyNot = "no display server for the test";
        return nullptr;
    }
    return std::make_shared<FakeDisplays>(displayList);
}

std::shared_ptr<Platform::ScreenCapture> FakeEnvironment::screenCapture(TessaloyBase::SerialQueue& queue,
                                                                        std::string*) {
    auto capture = std::make_shared<FakeScreenCapture>(queue);
    std::lock_guard guard(lock_);
    screenCaptures_.push_back(capture);
    return capture;
}

std::shared_ptr<Platform::AudioCapture> FakeEnvironment::audioCapture(TessaloyBase::SerialQueue& queue) {
    auto capture = std::make_shared<FakeAudioCapture>(queue);
    std::lock_guard guard(lock_);
    audioCaptures_.push_back(capture);
    return capture;
}

std::unique_ptr<Platform::Events> FakeEnvironment::events(TessaloyBase::SerialQueue&, std::string* whyNot) {
    if (eventsFail) {
        if (whyNot) *whyNot = "no XTEST for the test";
        return nullptr;
    }
    return std::make_unique<FakeEvents>();
}

std::unique_ptr<Platform::CursorImage> FakeEnvironment::cursorImage(std::string*) {
    return std::make_unique<FakeCursorImage>();
}

std::shared_ptr<Platform::Pasteboard> FakeEnvironment::pasteboard() { return pasteboard_; }

std::shared_ptr<Platform::TransferFiles> FakeEnvironment::transferFiles() { return transferFiles_; }

namespace {

template <typename Capture>
std::vector<std::shared_ptr<Capture>> living(const std::vector<std::weak_ptr<Capture>>& made) {
    std::vector<std::shared_ptr<Capture>> alive;
    for (const auto& capture : made) {
        if (auto held = capture.lock()) alive.push_back(std::move(held));
    }
    return alive;
}

} // namespace

std::vector<std::shared_ptr<FakeScreenCapture>> FakeEnvironment::screenCaptures() const {
    std::lock_guard guard(lock_);
    return living(screenCaptures_);
}

std::vector<std::shared_ptr<FakeAudioCapture>> FakeEnvironment::audioCaptures() const {
    std::lock_guard guard(lock_);
    return living(audioCaptures_);
}

} // namespace Testing
