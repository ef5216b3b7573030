#include "tests/app/ui/PopoverFixture.h"

#include "app/ui/DeviceRow.h"
#include "app/ui/StatusChip.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace Testing {
namespace {

using Plovander::MenuStatus;

TEST_F(PopoverTest, TheStatusWordPicksTheOnePanel) {
    EXPECT_EQ(find<Plovander::StatusChip>("statusChip")->accessibleName(), "Status: Set up");
    EXPECT_TRUE(find("setupCard")->isVisibleTo(menu.get()));
    EXPECT_FALSE(find("availableRow")->isVisibleTo(menu.get()));
    EXPECT_FALSE(find("pairedDevices")->isVisibleTo(menu.get()));

    startSharing();
    EXPECT_EQ(menu->statusWord(), MenuStatus::pairing);
    EXPECT_TRUE(find("pairingPanel")->isVisibleTo(menu.get()));
    EXPECT_FALSE(find("setupCard")->isVisibleTo(menu.get()));
    EXPECT_EQ(find<QLabel>("pairingCode")->text(), QString::fromStdString(*session->pairingCode()));

    find<QPushButton>("cancelPairing")->click();
    environment.actor.runUntilIdle();
    EXPECT_EQ(menu->statusWord(), MenuStatus::setUp);
    EXPECT_TRUE(find("setupCard")->isVisibleTo(menu.get()));
}

TEST_F(PopoverTest, NamesFromDevicesAreShownAsWritten) {
    startSharing();
    const Device marked{"<b>Jo</b>\u202Eenohp"};
    auto media = connect(Role::media, "Pairing", Device{}.key);
    connect(Role::control, "Pairing", Device{}.key);
    receive(media, Role::media, TessaloyNet::PairingExchange(marked.key, marked.name).packet());
    ASSERT_EQ(menu->statusWord(), MenuStatus::needsApproval);

    const auto* title = find<QLabel>("approvalTitle");
    EXPECT_EQ(title->textFormat(), Qt::PlainText);
    EXPECT_EQ(title->text(), QString::fromUtf8("<b>Jo</b>\uFFFDenohp wants to connect"));
}

TEST_F(PopoverTest, ConnectedNowMarksTheDeviceWhoseKeyIsConnected) {
    const Device twin{"Jo's iPhone"};
    TessaloyNet::PairedDeviceStore(environment.keychainItems)
        .add({.publicKey = twin.key, .name = twin.name, .pairedAt = environment.actor.now(), .lastSeenAt = {}});
    pairAndApprove(Device{"Jo's iPhone"});
    ASSERT_EQ(session->pairedDevices().size(), 2u);

    QStringList lines;
    for (const auto* status : menu->findChildren<QLabel*>("deviceStatus")) lines << status->text();
    EXPECT_EQ(lines.count("Connected now"), 1) << lines.join(" | ").toStdString();
}

TEST_F(PopoverTest, ReturnInTheRenameFieldRenamesAndNeverApproves) {
    const Device paired{"Old name"};
    listenFor(paired);
    // A second device enters the code while the list shows the first.
    session->setListensAutomatically(false);
    environment.actor.runUntilIdle();
    startSharing();
    auto media = connect(Role::media, "Pairing", Device{}.key);
    connect(Role::control, "Pairing", Device{}.key);
    receive(media, Role::media, TessaloyNet::PairingExchange(Device{}.key, "Newcomer").packet());
    ASSERT_EQ(menu->statusWord(), MenuStatus::needsApproval);

    auto* row = find<Plovander::DeviceRow>("deviceRow");
    Q_EMIT row->renameRequested();
    auto* field = row->findChild<QLineEdit*>("renameField");
    ASSERT_TRUE(field->isVisibleTo(menu.get()));
    EXPECT_EQ(field->text(), "Old name");
    field->setText("New name");
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(field, &press);
    environment.actor.runUntilIdle();

    EXPECT_EQ(session->pairedDevices().front().name, "New name");
    EXPECT_EQ(session->pendingPeerName(), "Newcomer");
    EXPECT_FALSE(session->isSharing());

    // Return elsewhere in the popover allows the device.
    QKeyEvent again(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(menu.get(), &again);
    EXPECT_TRUE(until([&] { return session->isSharing(); }));
}

// A paired name is text everywhere its row shows it, tooltip and rename field included.
TEST_F(PopoverTest, TheDeviceRowShowsTheNameAsText) {
    listenFor(Device{"<i>x</i>\u202E"});
    const auto* options = find<QToolButton>("deviceOptions");
    EXPECT_EQ(options->toolTip(), QString::fromUtf8("<qt>Rename or forget &lt;i&gt;x&lt;/i&gt;\uFFFD</qt>"));
    EXPECT_EQ(options->accessibleName(), QString::fromUtf8("Options for <i>x</i>\uFFFD"));
    auto* row = find<Plovander::DeviceRow>("deviceRow");
    Q_EMIT row->renameRequested();
    EXPECT_EQ(row->findChild<QLineEdit*>("renameField")->text(), QString::fromUtf8("<i>x</i>\uFFFD"));
}

} // namespace
} // namespace Testing
