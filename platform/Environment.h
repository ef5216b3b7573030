#pragma once

#include "core/MacKind.h"
#include "platform/ServiceAdvertiser.h"

#include <memory>
#include <string>

namespace Platform {

class AudioCapture;
class CursorImage;
class Displays;
class Events;
class Keychain;
class MainActor;
class Pasteboard;
class ScreenCapture;
class SerialQueue;
class TransferFiles;
class UserDefaults;

// Makes every platform object the application uses, so a test builds the whole application on
// fakes. Factories that take a `whyNot` return nothing when the facility is missing and say why.
class Environment {
public:
    virtual ~Environment() = default;

    virtual MainActor& mainActor() = 0;
    virtual UserDefaults& userDefaults() = 0;
    virtual Keychain& keychain() = 0;

    virtual std::unique_ptr<Displays> displays(std::string* whyNot) = 0;
    virtual std::unique_ptr<ScreenCapture> screenCapture(SerialQueue& queue, std::string* whyNot) = 0;
    virtual std::unique_ptr<AudioCapture> audioCapture(SerialQueue& queue) = 0;
    virtual std::unique_ptr<ServiceAdvertiser> serviceAdvertiser(SerialQueue& queue,
                                                                 ServiceAdvertiser::StateHandler onState) = 0;
    virtual std::unique_ptr<Events> events(SerialQueue& queue, std::string* whyNot) = 0;
    virtual std::unique_ptr<CursorImage> cursorImage(std::string* whyNot) = 0;
    virtual std::shared_ptr<Pasteboard> pasteboard() = 0;
    virtual std::shared_ptr<TransferFiles> transferFiles() = 0;

    // This computer's name on the network; empty when it has none.
    virtual std::string hostName() = 0;
    // What kind of computer this is, for the service record.
    virtual TessaloyCore::MacKind machineKind() = 0;
};

} // namespace Platform
