#pragma once

#include "app/runtime/CancellationToken.h"
#include "core/ReleaseManifest.h"
#include "core/UpdateStatus.h"

#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>
#include <string>

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

    std::function<void()> onChange = [] {};
};

// Stand-in where updates are not wanted: checks nothing and never finds an update.
class MacUpdaterStandIn final : public MacUpdater {
public:
    void startDailyCheck() override {}
    QCoro::Task<std::optional<TessaloyCore::ReleaseManifest>> checkForUpdate() override { co_return std::nullopt; }
    QCoro::Task<> installUpdate(std::function<bool()>, Report report, CancellationToken) override {
        report(TessaloyCore::UpdateStatus::State::upToDate, std::nullopt);
        co_return;
    }
    const std::optional<TessaloyCore::ReleaseManifest>& available() const override { return none_; }
    const std::optional<TessaloyCore::UpdateStatus>& status() const override { return noStatus_; }
    bool isInstalling() const override { return false; }
    bool canReplaceItself() const override { return false; }

private:
    std::optional<TessaloyCore::ReleaseManifest> none_;
    std::optional<TessaloyCore::UpdateStatus> noStatus_;
};

} // namespace Plovander
