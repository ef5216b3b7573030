#pragma once

#include "base/DiskQueue.h"
#include "base/Keychain.h"
#include "base/MainActor.h"
#include "base/SerialQueue.h"
#include "base/ServiceAdvertiser.h"
#include "core/MacKind.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace TessaloyNet {
class HostListener;
class PairedDeviceStore;
} // namespace TessaloyNet

namespace Platform {

class AudioCapture;
class CursorImage;
class Displays;
class Events;
class Gamma;
class InputLock;
class Interfaces;
class LoginItems;
class MachineInfo;
class NetworkChanges;
class Pasteboard;
class PowerAssertion;
class ScreenCapture;
class TransferFiles;
class UserDefaults;
class Workspace;

// Makes every platform object the application uses, so a test builds the whole application on
// fakes. Factories that take a `whyNot` return nothing when the facility is missing and say why.
// The facilities returned by reference are the process's own and live as long as the environment.
class Environment {
public:
    // The real one, with settings overridden by "-Key value" pairs in `launchArguments`. Call on the
    // main thread once the GUI application exists.
    static std::unique_ptr<Environment> create(const std::vector<std::string>& launchArguments);

    virtual ~Environment() = default;

    virtual TessaloyBase::MainActor& mainActor() = 0;
    virtual UserDefaults& userDefaults() = 0;
    virtual TessaloyBase::Keychain& keychain() = 0;
    // Where the settings and the stores kept in the keychain are saved; what it holds to save is
    // saved before the environment goes.
    virtual TessaloyBase::DiskQueue diskQueue() = 0;

    // Shared: a capture is held by its owner and by the work that starts and stops it.
    virtual std::shared_ptr<Displays> displays(std::string* whyNot) = 0;
    virtual std::shared_ptr<ScreenCapture> screenCapture(TessaloyBase::SerialQueue& queue, std::string* whyNot) = 0;
    virtual std::shared_ptr<AudioCapture> audioCapture(TessaloyBase::SerialQueue& queue) = 0;
    // Holds only what its advertisers need: a listener may still start after the environment is
    // gone (at quit).
    virtual TessaloyBase::ServiceAdvertiser::Factory serviceAdvertisers() = 0;
    // A listener for one offer or one period of listening for paired devices, advertised with
    // serviceAdvertisers(); it and its connections share `trusted`.
    virtual std::shared_ptr<TessaloyNet::HostListener> hostListener(
        std::shared_ptr<const TessaloyNet::PairedDeviceStore> trusted) = 0;
    virtual std::unique_ptr<Events> events(TessaloyBase::SerialQueue& queue, std::string* whyNot) = 0;
    virtual std::unique_ptr<CursorImage> cursorImage(std::string* whyNot) = 0;
    virtual std::shared_ptr<Pasteboard> pasteboard() = 0;
    virtual std::shared_ptr<TransferFiles> transferFiles() = 0;

    virtual Gamma& gamma() = 0;
    virtual InputLock& inputLock() = 0;
    virtual std::shared_ptr<PowerAssertion> powerAssertion() = 0;
    virtual LoginItems& loginItems() = 0;
    virtual MachineInfo& machineInfo() = 0;
    virtual Interfaces& interfaces() = 0;
    virtual Workspace& workspace() = 0;
    // A watch on the network's links, addresses and routes; see NetworkChanges::create.
    virtual std::unique_ptr<NetworkChanges> networkChanges(std::function<void()> onChange, std::string* whyNot) = 0;

    // Hands memory that was freed (a session's buffers) back to the system; the allocator would
    // otherwise keep it for later.
    virtual void releaseFreedMemory() = 0;

    // The LAN listener, with this environment's advertiser and this computer's kind.
    std::shared_ptr<TessaloyNet::HostListener> lanListener(
        std::shared_ptr<const TessaloyNet::PairedDeviceStore> trusted);

    // Shorthands for machineInfo().
    std::string hostName();
    TessaloyCore::MacKind machineKind();
};

} // namespace Platform
