#pragma once

#include "app/updater/MacUpdater.h"

#include <memory>

namespace Testing {

// An updater for tests that are not about updates: it asks no server, finds nothing and answers
// that this copy is up to date.
class QuietUpdater final : public Plovander::MacUpdater {
public:
    // A Plovander::UpdaterFactory.
    static std::unique_ptr<Plovander::MacUpdater> make(TessaloyBase::MainActor&, std::function<void()>) {
        return std::make_unique<QuietUpdater>();
    }

    void startDailyCheck() override {}
    QCoro::Task<std::optional<TessaloyCore::ReleaseManifest>> checkForUpdate() override { co_return std::nullopt; }
    QCoro::Task<> installUpdate(std::function<bool()>, Report report, Plovander::CancellationToken) override {
        report(TessaloyCore::UpdateStatus::State::upToDate, std::nullopt);
        co_return;
    }
    const std::optional<TessaloyCore::ReleaseManifest>& available() const override { return none_; }
    const std::optional<TessaloyCore::UpdateStatus>& status() const override { return noStatus_; }
    bool isInstalling() const override { return false; }
    bool canReplaceItself() const override { return false; }
    std::string currentVersion() const override { return "?"; }
    std::int64_t currentBuild() const override { return 0; }

private:
    std::optional<TessaloyCore::ReleaseManifest> none_;
    std::optional<TessaloyCore::UpdateStatus> noStatus_;
};

} // namespace Testing
