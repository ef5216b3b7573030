#include "tests/support/X11Environment.h"

#include "platform/AudioCapture.h"
#include "platform/CursorImage.h"
#include "platform/Displays.h"
#include "platform/Events.h"
#include "platform/ScreenCapture.h"

#include <utility>

namespace Testing {

X11Environment::X11Environment(std::string displayName, std::optional<std::string> soundServer)
    : displayName_(std::move(displayName)),
      soundServer_(std::move(soundServer)),
      gamma_(Platform::Gamma::create(displayName_)),
      inputLock_(Platform::InputLock::create(displayName_)) {}

std::shared_ptr<Platform::Displays> X11Environment::displays(std::string* whyNot) {
    return Platform::Displays::create(displayName_, whyNot);
}

std::shared_ptr<Platform::ScreenCapture> X11Environment::screenCapture(TessaloyBase::SerialQueue& queue,
                                                                       std::string* whyNot) {
    if (beforeScreenCapture) beforeScreenCapture();
    return Platform::ScreenCapture::create(queue, displayName_, whyNot);
}

std::unique_ptr<Platform::Events> X11Environment::events(TessaloyBase::SerialQueue& queue, std::string* whyNot) {
    return Platform::Events::create(queue, displayName_, whyNot);
}

std::unique_ptr<Platform::CursorImage> X11Environment::cursorImage(std::string* whyNot) {
    return Platform::CursorImage::create(displayName_, whyNot);
}

std::shared_ptr<Platform::AudioCapture> X11Environment::audioCapture(TessaloyBase::SerialQueue& queue) {
    if (!soundServer_) return FakeEnvironment::audioCapture(queue);
    return Platform::AudioCapture::create(queue, *soundServer_);
}

void X11Environment::releaseFreedMemory() {
    FakeEnvironment::releaseFreedMemory();
    allocator_->releaseFreed();
}

} // namespace Testing
