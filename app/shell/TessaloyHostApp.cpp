#include "app/shell/TessaloyHostApp.h"

#include "app/runtime/TaskHandle.h"
#include "app/services/LoginItem.h"
#include "app/shell/ReplacedInstance.h"
#include "app/trace/TraceLog.h"
#include "base/MainActor.h"

#include <QCoreApplication>
#include <QPointer>

namespace Plovander {
namespace {

void traceAnotherCopy(pid_t other) {
    TraceLog::message([&] { return "another copy is running (pid " + std::to_string(other) + "); exiting"; });
}

} // namespace

std::optional<SingleInstance> TessaloyHostApp::ensureSingleInstance(const std::vector<std::string>& launchArguments,
                                                                    const std::filesystem::path& lockFile) {
    const std::optional<pid_t> predecessor = ReplacedInstance::waitForReplacedInstance(launchArguments);
    // A copy that took the lock first as the predecessor ended is the one that runs.
    auto outcome = SingleInstance::acquire(lockFile, predecessor, [](pid_t other) {
        traceAnotherCopy(other);
        QCoreApplication::quit();
    });
    if (auto* held = std::get_if<SingleInstance>(&outcome)) return std::move(*held);
    traceAnotherCopy(std::get<pid_t>(outcome));
    return std::nullopt;
}

TessaloyHostApp::TessaloyHostApp(Platform::Environment& environment, const UpdaterFactory& makeUpdater)
    : environment_(environment) {
    environment.diskQueue().reportFailures([](const std::string& file, const std::string& problem) {
        TraceLog::message([&] { return "could not save " + file + ": " + problem; });
    });
    LoginItem(environment.loginItems(), environment.userDefaults()).migrateFromMainApp();
    const TessaloyCore::MacKind kind = environment.machineKind();
    TraceLog::message([&] { return std::string("this computer is a ") + TessaloyCore::nameOf(kind); });

    capture_ = std::make_unique<CaptureProbe>(environment, captureQueue_, audioQueue_);
    session_ = std::make_unique<StreamingSession>(environment, *capture_, makeUpdater);

    environment.mainActor().post([probe = QPointer(capture_.get())] {
        // The display server needs no permission to be read, so the answer is always yes.
        TraceLog::screenRecordingGranted(true, false);
        if (probe)
            TaskHandle::detach([probe](CancellationToken) -> QCoro::Task<> { co_await probe->refreshDisplays(); });
    });
}

QCoro::Task<> TessaloyHostApp::quit() {
    // Every task of the controller ends at its next step, so none asks the capture for more.
    session_.reset();
    // Takes its turn after whatever the capture has in flight.
    co_await capture_->stop();
}

} // namespace Plovander
