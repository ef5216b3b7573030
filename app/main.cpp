#include "app/runtime/TaskHandle.h"
#include "app/shell/ProcessStart.h"
#include "app/shell/SignalQuitter.h"
#include "app/shell/TessaloyHostApp.h"
#include "app/trace/TraceLog.h"
#include "app/ui/FocusRingStyle.h"
#include "app/ui/HostTray.h"
#include "app/ui/PresentRequests.h"
#include "app/updater/SelfUpdater.h"
#include "app/updater/TestReleases.h"
#include "base/SerialQueue.h"
#include "platform/Environment.h"
#include "platform/Relauncher.h"
#include "platform/TransferFiles.h"

#include <openssl/crypto.h>
#include <sys/resource.h>
#include <QApplication>
#include <QEventLoop>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace Plovander;

namespace {

// The test build of the program (tests/CMakeLists.txt) lets a test point its updater elsewhere.
#ifdef PLOVANDER_TEST_RELEASES
const UpdaterFactory makeUpdater = TestReleases::updater;
#else
const UpdaterFactory makeUpdater = SelfUpdater::forThisProgram;
#endif

// Qt gives each of its threads a wake-up descriptor and aborts when it cannot make one, and every
// connection, file and child takes more; so, as servers do, the soft limit on open files goes up to
// the hard one. Returns the limit in force.
rlim_t raiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return RLIM_INFINITY;
    const rlim_t soft = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : soft;
}

// Runs the event loop on while the application quits, for its patience at most.
void finish(TessaloyHostApp& host, TessaloyBase::MainActor& actor) {
    QEventLoop loop;
    const TaskHandle quitting = TaskHandle::start([&](CancellationToken) -> QCoro::Task<> {
        co_await host.quit();
        loop.quit();
    });
    const TessaloyBase::ScheduledCall patience = actor.after(TessaloyHostApp::quitPatience, [&loop] { loop.quit(); });
    if (quitting.isRunning()) loop.exec();
}

} // namespace

int main(int argc, char* argv[]) {
    ProcessStart::prepare();
    const rlim_t openFiles = raiseOpenFileLimit();
    if (openFiles < ProcessStart::leastOpenFiles) return ProcessStart::tooFewOpenFiles(openFiles);
    // The copy that an update started is waiting to hear that this one runs.
    Platform::Relauncher::signalReady();
    // Set up on the main thread, so OpenSSL's own state is not tied to a worker thread.
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr);
    QApplication application(argc, argv);
    QApplication::setStyle(new FocusRingStyle);
    QApplication::setApplicationName("Plovander");
    // The tray icon keeps the application running while no window is open.
    QApplication::setQuitOnLastWindowClosed(false);
    SignalQuitter signalQuitter;

    const std::vector<std::string> launchArguments(argv + 1, argv + argc);
    const std::unique_ptr<Platform::Environment> environment = Platform::Environment::create(launchArguments);
    TraceLog::configure(
        TraceLog::configurationFrom(environment->userDefaults(), [](const char* name) { return std::getenv(name); }));
    TraceLog::message("Plovander starting");
    if (openFiles < 256) {
        TraceLog::message([&] {
            return "only " + std::to_string(openFiles) + " open files are allowed: threads and connections may fail";
        });
    }
    if (const auto problem = environment->userDefaults().readProblem()) {
        TraceLog::message("could not read the settings, using the defaults: " + *problem);
    }

    const auto instance = TessaloyHostApp::ensureSingleInstance(launchArguments, SingleInstance::defaultLockFile());
    if (!instance) {
        // The running copy shows its popover or window instead.
        PresentRequests::ask(PresentRequests::defaultSocket());
        TraceLog::flush();
        return 0;
    }

    TessaloyHostApp host(*environment, makeUpdater);
    int status = 0;
    {
        HostTray tray(host.session(), host.capture(), *environment, environment->workspace(),
                      environment->transferFiles()->downloadsFolder());
        const PresentRequests requests(PresentRequests::defaultSocket(), [&tray] { tray.present(); });
        tray.start(requests.isListening());
        status = QApplication::exec();
    }
    finish(host, environment->mainActor());
    TraceLog::message("Plovander quit");
    // Blocking work still under way uses the host and the environment: they go only once it has
    // ended. Work that outlasts the patience is left to the end of the process, as no destructor runs.
    if (!TessaloyBase::waitForBlockingWork(TessaloyHostApp::quitPatience)) {
        TraceLog::message("blocking work still ran at the end");
        environment->diskQueue().drain();
        TraceLog::flush();
        std::_Exit(status);
    }
    TraceLog::flush();
    return status;
}
