#pragma once

#include "app/updater/InstalledCopy.h"
#include "app/updater/MacUpdater.h"
#include "app/updater/ReleaseFetch.h"
#include "app/updater/TreeSwap.h"
#include "app/updater/UpdateStaging.h"
#include "base/BlockingQueue.h"
#include "base/MainActor.h"

#include <chrono>
#include <memory>

namespace Platform {
class Relauncher;
}

namespace Plovander {

// The updater of an installed copy: checks the release manifest 20 s after start and then daily,
// and installs a newer signed release in place of the running tree, then starts it. Its file steps
// take their turns on one queue, the sweep of what an earlier run left first; as it goes, every
// step it started stops, and none reaches the main actor again.
class SelfUpdater final : public MacUpdater {
public:
    static constexpr std::chrono::seconds firstCheckDelay{20};
    static constexpr std::chrono::seconds checkInterval{86'400};
    static constexpr std::chrono::seconds manifestIdleTimeout{15};
    static constexpr std::chrono::seconds manifestDeadline{60};
    static constexpr std::int64_t manifestLimit = 65'536;
    static constexpr std::chrono::milliseconds relaunchWait{2'000};
    static constexpr const char* website = "https://plovander.example";

    struct Configuration {
        InstalledCopy copy;
        std::string manifestLocation;
        ReleaseFetch::Options transport; // the release host, and a test server's trust and address
        TrustedKeys keys;
        std::string architecture;
        std::filesystem::path downloadFolder; // empty: the system has none, and downloads fail saying so
        std::function<TessaloyCore::ReleaseManifest::SystemVersion()> system;
        InstalledCopy::WriteCheck isWritable;
        TreeSwap::Renames renames;
        std::shared_ptr<Platform::Relauncher> relauncher;
        std::function<void()> quit; // ends this process once the new copy runs
        // Installs what the first check finds, at once and unasked; only the test build of the
        // program sets it, for an update of the whole program from start to end.
        bool installsAtStart = false;

        // The running program, the pinned keys and the real release host.
        static Configuration forThisProgram(std::function<void()> quit);
    };

    SelfUpdater(TessaloyBase::MainActor& actor, Configuration configuration);
    // The updater of this program. A copy started from its build folder checks too, but cannot
    // replace itself, and says so when a newer release exists.
    static std::unique_ptr<MacUpdater> forThisProgram(TessaloyBase::MainActor& actor, std::function<void()> quit);
    ~SelfUpdater() override;

    void startDailyCheck() override;
    QCoro::Task<std::optional<TessaloyCore::ReleaseManifest>> checkForUpdate() override;
    QCoro::Task<> installUpdate(std::function<bool()> isAllowed, Report report, CancellationToken token) override;

    const std::optional<TessaloyCore::ReleaseManifest>& available() const override { return available_; }
    const std::optional<TessaloyCore::UpdateStatus>& status() const override { return status_; }
    bool canReplaceItself() const override { return configuration_.copy.canReplaceItself(configuration_.isWritable); }
    bool isInstalling() const override { return isInstalling_; }
    std::string currentVersion() const override { return configuration_.copy.version(); }
    std::int64_t currentBuild() const override { return configuration_.copy.build(); }

    // "installing <version> (<build>)".
    static std::string installingText(const TessaloyCore::ReleaseManifest& release);

private:
    void scheduleDailyCheck();
    void publish(TessaloyCore::UpdateStatus::State state, std::optional<std::string> detail, const Report& report);
    QCoro::Task<> install(TessaloyCore::ReleaseManifest release, std::function<bool()> isAllowed, Report report,
                          CancellationToken token);
    void fail(const std::exception& error, const Report& report);
    // Removes what a withdrawn installation fetched or staged.
    QCoro::Task<> discard(std::filesystem::path path);

    TessaloyBase::MainActor& actor_;
    Configuration configuration_;
    std::optional<TessaloyCore::ReleaseManifest> available_;
    std::optional<TessaloyCore::UpdateStatus> status_;
    bool isInstalling_ = false;
    bool scheduled_ = false;
    TessaloyBase::ScheduledCall firstCheck_;
    TessaloyBase::ScheduledCall timer_;
    TessaloyBase::BlockingQueue files_{"dev.tessaloy.updater"};
    // Cancelled as the updater goes: its tasks stop there.
    CancellationToken lifetime_;
};

} // namespace Plovander
