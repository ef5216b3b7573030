#pragma once

#include "platform/Gamma.h"
#include "platform/InputLock.h"
#include "platform/MemoryAllocator.h"
#include "tests/support/FakeEnvironment.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Testing {

// The platform of a test that runs on a real desktop: the displays, the screen capture, the posted
// events, the pointer's picture, the gamma ramps and the input lock are those of the X server
// `displayName` (a private XvfbServer's), and the sound that of the PulseAudio server `soundServer`
// when given (a private PulseAudioServer's); the memory allocator is the process's own; everything
// else is FakeEnvironment's (manual main actor, memory keychain and settings, fake advertiser,
// pasteboard and sound, received files in a temporary folder). The servers must outlive the objects
// made here.
class X11Environment final : public FakeEnvironment {
public:
    explicit X11Environment(std::string displayName, std::optional<std::string> soundServer = std::nullopt);

    const std::string& displayName() const { return displayName_; }

    // Runs on the calling thread before each screen capture is made, so a test can hold a start
    // there. Set it before anything asks for a capture.
    std::function<void()> beforeScreenCapture;

    std::shared_ptr<Platform::Displays> displays(std::string* whyNot) override;
    std::shared_ptr<Platform::ScreenCapture> screenCapture(TessaloyBase::SerialQueue& queue,
                                                           std::string* whyNot) override;
    std::unique_ptr<Platform::Events> events(TessaloyBase::SerialQueue& queue, std::string* whyNot) override;
    std::unique_ptr<Platform::CursorImage> cursorImage(std::string* whyNot) override;
    std::shared_ptr<Platform::AudioCapture> audioCapture(TessaloyBase::SerialQueue& queue) override;
    Platform::Gamma& gamma() override { return *gamma_; }
    Platform::InputLock& inputLock() override { return *inputLock_; }
    // Counted as by FakeEnvironment, and done for real, as on a user's desktop.
    void releaseFreedMemory() override;

private:
    std::unique_ptr<Platform::MemoryAllocator> allocator_ = Platform::MemoryAllocator::create();
    std::string displayName_;
    std::optional<std::string> soundServer_;
    std::unique_ptr<Platform::Gamma> gamma_;
    std::unique_ptr<Platform::InputLock> inputLock_;
};

} // namespace Testing
