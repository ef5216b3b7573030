#include "app/ui/DeviceRow.h"
#include "app/ui/HostFilesWindow.h"
#include "app/ui/HostSettingsWindow.h"
#include "tests/app/ui/PopoverFixture.h"
#include "tests/support/BlockingWork.h"
#include "tests/support/FakeDisplays.h"
#include "tests/support/TemporaryDirectory.h"

#include <QPixmap>
#include <QScrollArea>

#include <fstream>

namespace Testing {
namespace {

class ScreenshotsTest : public PopoverTest {
protected:
    void TearDown() override {
        closeWindows();
        PopoverTest::TearDown();
    }

    void closeWindows() {
        settings.reset();
        files.reset();
        finishBlockingWork();
    }

    void shoot(const QString& state) {
        // Active, as an opened popover is: a focus that shows from the start shows here.
        QApplication::setActiveWindow(menu.get());
        settleEvents();
        // As tall as the popover wants to be: on the screen, the tray's room caps it.
        menu->resize(menu->width(), menu->heightForWidth(menu->width()));
        ASSERT_TRUE(menu->grab().save(folder + "/" + variant + "-" + state + ".png"));
    }

    void shootWindows(const QString& state) {
        if (!settings) {
            settings = std::make_unique<Plovander::HostSettingsWindow>(*session, *probe, environment);
            files = std::make_unique<Plovander::HostFilesWindow>(*session, session->transfers(),
                                                                 environment.desktopWorkspace, downloads.path());
        }
        settings->open();
        files->open();
        QApplication::processEvents();
        QWidget* column = settings->findChild<QScrollArea*>("settingsColumn")->widget(); // scrolled or not
        ASSERT_TRUE(column->grab().save(folder + "/" + variant + "-settings-" + state + ".png"));
        ASSERT_TRUE(files->grab().save(folder + "/" + variant + "-files-" + state + ".png"));
    }

    // Every status from a fresh controller, with the windows beside some of them.
    void walkThroughEveryStatus() {
        ASSERT_TRUE(until([&] { return session->identity().has_value(); }));
        shoot("set-up");
        shootWindows("set-up");
        startSharing();
        shoot("pairing");
        auto media = connect(Role::media, "Pairing", Device{}.key);
        connect(Role::control, "Pairing", Device{}.key);
        receive(media, Role::media, TessaloyNet::PairingExchange(Device{}.key, "Jo's iPhone").packet());
        shoot("needs-approval");
        session->approvePeer();
        ASSERT_TRUE(until([&] { return session->isSharing(); }));
        session->applyPrivacy({true, true});
        for (const char* name : {"holiday-photos-from-the-coast-2024.zip", "notes.txt"}) {
            std::ofstream(sources.path() / name) << std::string(4 << 20, 'x');
            session->transfers().send(sources.path() / name);
        }
        shoot("connected");
        shootWindows("connected");
        session->stopSharing(StopReason::hostDisconnected());
        environment.actor.runUntilIdle();
        shoot(menu->statusWord() == Plovander::MenuStatus::notAvailable ? "not-available" : "after-session");
        session->setListensAutomatically(true);
        environment.network.setInterfaces(
            {FakeInterfaces::link("tailscale0", Platform::Interfaces::Kind::tunnel,
                                  {"100.64.12.7", "fd7a:115c:a1e0:ab12:4843:cd96:6258:b240"})});
        environment.networkWatch.change();
        environment.actor.runUntilIdle();
        shoot(session->acceptsPairedDevices() ? "available" : "starting");
        shootWindows("available");
        session->setLastRejection("A device that isn't paired with this Mac tried to connect.");
        session->transfers().setLastProblem("holiday-photos-from-the-coast-2024.zip is larger than 1 GB.");
        shoot("banners");
        session->setLastRejection(std::nullopt);
        session->transfers().setLastProblem(std::nullopt);
        // The user's own stop holds listening off.
        session->stopSharing(StopReason::userStopped());
        environment.actor.runUntilIdle();
        shoot("stopped-by-user");
        Q_EMIT find<Plovander::DeviceRow>("deviceRow")->forgetRequested();
        shoot("forget");
    }

    QString folder;
    QString variant;
    TemporaryDirectory downloads;
    TemporaryDirectory sources;
    std::unique_ptr<Plovander::HostSettingsWindow> settings;
    std::unique_ptr<Plovander::HostFilesWindow> files;
};

// Writes pictures of the popover in each status and of both windows, at 8, 9, 11, 14 and 16 points
// in a light and a dark palette, to the folder named by PLOVANDER_SCREENSHOTS, for looking at by eye;
// skipped without it. Run with QT_SCALE_FACTOR=2 for the pictures at scale 2.
TEST_F(ScreenshotsTest, EveryStatusAndBothWindows) {
    folder = QString::fromLocal8Bit(qgetenv("PLOVANDER_SCREENSHOTS"));
    if (folder.isEmpty()) GTEST_SKIP() << "set PLOVANDER_SCREENSHOTS to a folder to write them";
    const QFont font = QApplication::font();
    const QPalette palette = QApplication::palette();
    environment.displayList = {FakeDisplays::display(1, 2560, 1440, true, "DELL U2720Q (DP-1)")};
    for (const int points : {8, 9, 11, 14, 16}) {
        for (const bool dark : {false, true}) {
            QFont sized = font;
            sized.setPointSize(points);
            QApplication::setFont(sized);
            QApplication::setPalette(dark ? QPalette(QColor(58, 58, 60), QColor(40, 40, 42)) : palette);
            variant = QStringLiteral("%1pt-%2").arg(points).arg(dark ? "dark" : "light");
            closeWindows();
            // Each look starts from a computer that has never paired.
            TessaloyNet::PairedDeviceStore store(environment.keychainItems);
            for (const auto& device : store.all()) store.remove(device.publicKey);
            environment.defaults.setBoolean("TessaloyListenForPairedDevices", false);
            environment.defaults.remove("TessaloyAvailabilityChosen");
            renew();
            walkThroughEveryStatus();
        }
    }
    QApplication::setFont(font);
    QApplication::setPalette(palette);
}

} // namespace
} // namespace Testing
