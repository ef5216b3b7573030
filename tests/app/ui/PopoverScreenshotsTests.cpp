#include "tests/app/ui/PopoverFixture.h"

#include <QPixmap>

namespace Testing {
namespace {

// Writes a picture of the popover in each status to the folder named by PLOVANDER_SCREENSHOTS, for
// looking at by eye; skipped without it.
TEST_F(PopoverTest, ScreenshotsOfEveryStatus) {
    const QByteArray folder = qgetenv("PLOVANDER_SCREENSHOTS");
    if (folder.isEmpty()) GTEST_SKIP() << "set PLOVANDER_SCREENSHOTS to a folder to write them";
    const auto shoot = [&](const char* name) {
        menu->adjustSize();
        ASSERT_TRUE(menu->grab().save(QString::fromUtf8(folder) + "/" + name + ".png"));
    };
    shoot("set-up");
    startSharing();
    shoot("pairing");
    auto media = connect(Role::media, "Pairing", Device{}.key);
    connect(Role::control, "Pairing", Device{}.key);
    receive(media, Role::media, TessaloyNet::PairingExchange(Device{}.key, "Jo's iPhone").packet());
    shoot("needs-approval");
    session->approvePeer();
    ASSERT_TRUE(until([&] { return session->isSharing(); }));
    session->applyPrivacy({true, true});
    shoot("connected");
    session->stopSharing(StopReason::hostDisconnected());
    environment.actor.runUntilIdle();
    shoot(menu->statusWord() == Plovander::MenuStatus::notAvailable ? "not-available" : "after-session");
    session->setListensAutomatically(true);
    environment.actor.runUntilIdle();
    shoot(session->acceptsPairedDevices() ? "available" : "starting");
}

} // namespace
} // namespace Testing
