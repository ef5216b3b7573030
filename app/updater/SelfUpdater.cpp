#include "app/updater/SelfUpdater.h"

#include "app/runtime/BlockingCall.h"
#include "app/runtime/TaskHandle.h"
#include "app/trace/TraceLog.h"
#include "app/updater/UpdateDownload.h"
#include "app/updater/UpdateFailure.h"
#include "app/updater/WorkFolder.h"
#include "app/updater/release/ReleaseSignature.h"
#include "platform/Relauncher.h"

#include <gnu/libc-version.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

namespace Plovander {

namespace {

using State = TessaloyCore::UpdateStatus::State;
using TessaloyCore::ReleaseManifest;

ReleaseManifest::SystemVersion runningLibraryVersion() {
    ReleaseManifest::SystemVersion version;
    long long major = 0, minor = 0, patch = 0;
    std::sscanf(gnu_get_libc_version(), "%lld.%lld.%lld", &major, &minor, &patch);
    version.majorVersion = major;
    version.minorVersion = minor;
    version.patchVersion = patch;
    return version;
}

// Empty where the system names no temporary folder that exists: a download then fails, saying so.
std::filesystem::path temporaryFolder() {
    std::error_code missing;
    return std::filesystem::temp_directory_path(missing);
}

// The sentence for an error that is not one of the updater's own; a full disk says so.
std::string sentenceFor(const std::exception& error) {
    const auto* system = dynamic_cast<const std::system_error*>(&error);
    if (system && (system->code() == std::errc::no_space_on_device ||
                   system->code() == std::error_condition(EDQUOT, std::generic_category()))) {
        return "The update couldn't be installed: the disk is full. Free some space and try again.";
    }
    return std::string("The update couldn't be installed. Try again, or download it from ") + SelfUpdater::website +
           ".";
}

// Raised as soon as any of its tokens is cancelled, for a blocking step to read; the step holds
// `raised()`, since it may outlast the flag.
class StopFlag {
public:
    explicit StopFlag(std::initializer_list<CancellationToken> tokens) {
        for (const CancellationToken& token : tokens) {
            watched_.emplace_back(token, token.onCancel([raised = raised_] { raised->store(true); }));
        }
    }
    ~StopFlag() {
        for (const auto& [token, registration] : watched_) token.removeCallback(registration);
    }
    StopFlag(const StopFlag&) = delete;
    StopFlag& operator=(const StopFlag&) = delete;

    std::shared_ptr<const std::atomic<bool>> raised() const { return raised_; }

private:
    std::shared_ptr<std::atomic<bool>> raised_ = std::make_shared<std::atomic<bool>>(false);
    std::vector<std::pair<CancellationToken, CancellationToken::Registration>> watched_;
};

} // namespace

SelfUpdater::Configuration SelfUpdater::Configuration::forThisProgram(std::function<void()> quit) {
    Configuration configuration{.copy = InstalledCopy::ofRunningProgram(),
                                .manifestLocation = ReleaseManifest::location(),
                                .transport = {},
                                .keys = TrustedKeys::pinned(),
                                .architecture = ReleaseSignature::machineArchitecture(),
                                .downloadFolder = temporaryFolder(),
                                .system = runningLibraryVersion,
                                .isWritable = InstalledCopy::accessAllowsWriting,
                                .renames = TreeSwap::Renames::system(),
                                .relauncher = Platform::Relauncher::create(),
                                .quit = std::move(quit)};
    configuration.transport.expectedHost = ReleaseManifest::host();
    return configuration;
}

std::unique_ptr<MacUpdater> SelfUpdater::forThisProgram(TessaloyBase::MainActor& actor, std::function<void()> quit) {
    return std::make_unique<SelfUpdater>(actor, Configuration::forThisProgram(std::move(quit)));
}

SelfUpdater::SelfUpdater(TessaloyBase::MainActor& actor, Configuration configuration)
    : actor_(actor), configuration_(std::move(configuration)) {
    // What an update that a crash or a quit interrupted left goes first, before any step of a new
    // one. A copy that cannot update itself has made none, and what lies around it is not its own.
    if (!canReplaceItself()) return;
    files_.async([tree = configuration_.copy.tree(), downloads = configuration_.downloadFolder] {
        UpdateStaging::sweepLeftovers(tree);
        UpdateDownload::sweepLeftovers(downloads);
    });
}

SelfUpdater::~SelfUpdater() { lifetime_.cancel(); }

void SelfUpdater::startDailyCheck() {
    if (scheduled_) return;
    scheduled_ = true;
    // A timer rather than a sleeping task: an updater that goes first leaves nothing suspended, its
    // timers called off with it.
    const auto firstCheck = [this] {
        TaskHandle::detach([this](CancellationToken token) -> QCoro::Task<> {
            if (configuration_.installsAtStart) {
                co_await installUpdate([] { return true; }, [](State, const std::optional<std::string>&) {}, token);
            } else {
                co_await checkForUpdate();
            }
        });
    };
    if (configuration_.installsAtStart) {
        firstCheck();
    } else {
        firstCheck_ = actor_.after(firstCheckDelay, firstCheck);
    }
    scheduleDailyCheck();
}

void SelfUpdater::scheduleDailyCheck() {
    timer_ = actor_.after(checkInterval, [this] {
        scheduleDailyCheck();
        TaskHandle::detach([this](CancellationToken) -> QCoro::Task<> { co_await checkForUpdate(); });
    });
}

QCoro::Task<std::optional<ReleaseManifest>> SelfUpdater::checkForUpdate() {
    const CancellationToken lifetime = lifetime_;
    ReleaseFetch::Options options = configuration_.transport;
    options.userAgent = "Plovander/" + currentVersion() + " (" + std::to_string(currentBuild()) + ")";
    options.idleTimeout = manifestIdleTimeout;
    if (options.deadline.count() == 0) options.deadline = manifestDeadline;
    // A cached manifest could hide a newer release.
    options.bypassCaches = true;
    options.limit = manifestLimit;
    options.destination.clear();
    const StopFlag quitting({lifetime});
    BlockingCall<ReleaseFetch::Result> call(
        actor_,
        [location = configuration_.manifestLocation, options, stop = quitting.raised()]() mutable {
            options.cancelled = stop.get();
            return ReleaseFetch::fetch(location, options);
        },
        lifetime);
    std::optional<ReleaseManifest> found;
    try {
        const ReleaseFetch::Result result = co_await call;
        if (result.status != 200) co_return available_;
        const ReleaseManifest release = ReleaseManifest::decode(result.body, configuration_.transport.expectedHost);
        if (release.isUpdate(currentBuild(), configuration_.system())) found = release;
    } catch (const std::exception& error) {
        if (lifetime.isCancelled()) co_return std::nullopt;
        TraceLog::message(std::string("update check failed: ") + error.what());
        co_return available_;
    }
    if (found == available_) co_return found;
    available_ = found;
    TraceLog::message(found ? "update available: " + found->version + " (" + std::to_string(found->build) + ")"
                            : std::string("Plovander is up to date"));
    onChange();
    co_return found;
}

std::string SelfUpdater::installingText(const ReleaseManifest& release) {
    return "installing " + release.version + " (" + std::to_string(release.build) + ")";
}

void SelfUpdater::publish(State state, std::optional<std::string> detail, const Report& report) {
    status_ = TessaloyCore::UpdateStatus{state, detail};
    onChange();
    report(state, detail);
}

QCoro::Task<> SelfUpdater::installUpdate(std::function<bool()> isAllowed, Report report, CancellationToken token) {
    if (isInstalling_) co_return;
    isInstalling_ = true;
    const CancellationToken lifetime = lifetime_;
    publish(State::checking, std::nullopt, report);
    const auto release = co_await checkForUpdate();
    if (lifetime.isCancelled()) co_return;
    if (!release) {
        publish(State::upToDate, std::nullopt, report);
    } else if (!isAllowed()) {
        publish(State::notAllowed, std::nullopt, report);
    } else if (!canReplaceItself()) {
        publish(State::failed,
                std::string("Plovander can't replace itself where it is installed. Download the update from ") +
                    website + " on the Mac.",
                report);
    } else {
        co_await install(*release, isAllowed, report, token);
        if (lifetime.isCancelled()) co_return;
    }
    isInstalling_ = false;
}

QCoro::Task<> SelfUpdater::install(ReleaseManifest release, std::function<bool()> isAllowed, Report report,
                                   CancellationToken token) {
    const CancellationToken lifetime = lifetime_;
    const std::filesystem::path installed = configuration_.copy.tree();
    publish(State::downloading, std::nullopt, report);
    try {
        // Quitting stops the download as a withdrawal does; staging only quitting stops.
        const StopFlag withdrawing({lifetime, token});
        const StopFlag quitting({lifetime});
        BlockingCall<std::filesystem::path> download(
            actor_, files_,
            [release, transport = configuration_.transport, stop = withdrawing.raised(),
             folder = configuration_.downloadFolder]() mutable {
                if (folder.empty()) throw std::runtime_error("no folder for temporary files to download into");
                transport.cancelled = stop.get();
                return UpdateDownload::download(release, transport, folder);
            },
            lifetime);
        const std::filesystem::path image = co_await download;
        if (!isAllowed() || token.isCancelled()) {
            co_await discard(image);
            throw UpdateFailure(UpdateFailure::Kind::withdrawn);
        }
        publish(State::verifying, std::nullopt, report);
        const UpdateStaging::Rules rules{configuration_.keys, configuration_.architecture, currentBuild()};
        BlockingCall<UpdateStaging::Staged> staging(
            actor_, files_,
            [image, release, installed, rules, stop = quitting.raised()] {
                return UpdateStaging::stage(image, release, installed, rules, stop.get());
            },
            lifetime);
        const UpdateStaging::Staged staged = co_await staging;
        if (!isAllowed() || token.isCancelled()) {
            co_await discard(staged.workFolder);
            throw UpdateFailure(UpdateFailure::Kind::withdrawn);
        }
        publish(State::installing, std::nullopt, report);
        TraceLog::message(installingText(release));
        // Off the main actor: the work folder then holds the whole old tree.
        BlockingCall<bool> swap(
            actor_, files_,
            [installed, staged, renames = configuration_.renames] {
                try {
                    TreeSwap::replace(installed, staged.tree, renames);
                } catch (...) {
                    WorkFolder::remove(staged.workFolder);
                    throw;
                }
                WorkFolder::remove(staged.workFolder);
                return true;
            },
            lifetime);
        co_await swap;
        BlockingCall<Platform::Relauncher::Result> relaunch(
            actor_,
            [relauncher = configuration_.relauncher, program = installed / InstalledCopy::program] {
                return relauncher->start(program, relaunchWait);
            },
            lifetime);
        const auto started = co_await relaunch;
        if (started.outcome == Platform::Relauncher::Outcome::failed) {
            TraceLog::message("couldn't start the updated copy: " + started.error);
            publish(State::failed, "The update is installed. Quit and reopen Plovander on the Mac to finish.", report);
            co_return;
        }
    } catch (const std::exception& error) {
        if (!lifetime.isCancelled()) fail(error, report);
        co_return;
    }
    configuration_.quit();
}

QCoro::Task<> SelfUpdater::discard(std::filesystem::path path) {
    // A work folder may hold a whole unpacked release.
    BlockingCall<bool> removal(
        actor_, files_,
        [path] {
            WorkFolder::remove(path);
            return true;
        },
        lifetime_);
    co_await removal;
}

void SelfUpdater::fail(const std::exception& error, const Report& report) {
    const auto* failure = dynamic_cast<const UpdateFailure*>(&error);
    if (failure && failure->kind() == UpdateFailure::Kind::withdrawn) {
        TraceLog::message("update stopped: no longer allowed");
        publish(State::notAllowed, std::nullopt, report);
        return;
    }
    TraceLog::message(std::string("update failed: ") + error.what());
    publish(State::failed, failure ? failure->description() : sentenceFor(error), report);
}

} // namespace Plovander
