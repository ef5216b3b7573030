#pragma once

#include "app/runtime/CancellationToken.h"
#include "core/ReleaseManifest.h"
#include "core/UpdateStatus.h"

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace TessaloyBase {
class MainActor;
}

namespace Plovander {

// Checks the release manifest and installs updates. Main actor only.
class MacUpdater {
public:
    using Report = std::function<void(TessaloyCore::UpdateStatus::State, const std::optional<std::string>&)>;

    virtual ~MacUpdater() = default;
    // Checks soon after start and then daily; `onChange` follows every change of what it found.
    virtual void startDailyCheck() = 0;
    // The newer release, none when this copy is current, or the unchanged `available()` when the
    // check failed.
    virtual QCoro::Task<std::optional<TessaloyCore::ReleaseManifest>> checkForUpdate() = 0;
    // Brings the newer release in and starts it, asking `isAllowed` before each step that changes
    // something and reporting every state. Returns at once while another installation runs.
    virtual QCoro::Task<> installUpdate(std::function<bool()> isAllowed, Report report,
                                        CancellationToken token = {}) = 0;

    virtual const std::optional<TessaloyCore::ReleaseManifest>& available() const = 0;
    virtual const std::optional<TessaloyCore::UpdateStatus>& status() const = 0;
    // True from the start of an installation to its end; it changes only together with `status`.
    virtual bool isInstalling() const = 0;
    virtual bool canReplaceItself() const = 0;
    // This copy's version and build, read again on every use: what the check compares with a release
    // is what the device is told.
    virtual std::string currentVersion() const = 0;
    virtual std::int64_t currentBuild() const = 0;

    std::function<void()> onChange = [] {};
};

// Makes a program's updater; `quit` ends the process once the new copy runs.
using UpdaterFactory =
    std::function<std::unique_ptr<MacUpdater>(TessaloyBase::MainActor& actor, std::function<void()> quit)>;

} // namespace Plovander
