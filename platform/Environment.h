#pragma once

#include "base/Keychain.h"
#include "base/MainActor.h"
#include "base/SerialQueue.h"
#include "base/ServiceAdvertiser.h"
#include "core/MacKind.h"

#include <memory>
#include <string>

namespace Platform {

class AudioCapture;
class CursorImage;
class Displays;
class Events;
class Pasteboard;
class ScreenCapture;
class TransferFiles;
class UserDefaults;

// Makes every platform object the application uses, so a test builds the whole application on
// fakes. Factories that take a `whyNot` return nothing when the facility is missing and say why.
class Environment {
public:
    virtual ~Environment() = default;

    virtual TessaloyBase::MainActor& mainActor() = 0;
    virtual UserDefaults& userDefaults() = 0;
    virtual TessaloyBase::Keychain& keychain() = 0;

    virtual std::unique_ptr<Displays> displays(std::string* whyNot) = 0;
    virtual std::unique_ptr<ScreenCapture> screenCapture(TessaloyBase::SerialQueue& queue, std::string* whyNot) = 0;
    virtual std::unique_ptr<AudioCapture> audioCapture(TessaloyBase::SerialQueue& queue) = 0;
    virtual std::unique_ptr<TessaloyBase::ServiceAdvertiser> serviceAdvertiser(
        TessaloyBase::SerialQueue& queue, TessaloyBase::ServiceAdvertiser::StateHandler onState) = 0;
    virtual std::unique_ptr<Events> events(TessaloyBase::SerialQueue& queue, std::string* whyNot) = 0;
    virtual std::unique_ptr<CursorImage> cursorImage(std::string* whyNot) = 0;
    virtual std::shared_ptr<Pasteboard> pasteboard() = 0;
    virtual std::shared_ptr<TransferFiles> transferFiles() = 0;

    // This computer's name on the network; empty when it has none.
    virtual std::string hostName() = 0;
    // What kind of computer this is, for the service record.
    virtual TessaloyCore::MacKind machineKind() = 0;
};

} // namespace Platform
