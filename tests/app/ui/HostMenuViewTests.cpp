#include "tests/app/ui/PopoverFixture.h"

#include "app/ui/DeviceRow.h"
#include "app/ui/ElidedLabel.h"
#include "app/ui/HostTray.h"
#include "app/ui/Look.h"
#include "app/ui/StatusChip.h"
#include "app/ui/Switch.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <fstream>

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
    EXPECT_EQ(find<QLabel>("countdown")->text(), "Expires in 5:00") << "reckoned by the controller's clock";

    find<QPushButton>("cancelPairing")->click();
    environment.actor.runUntilIdle();
    EXPECT_EQ(menu->statusWord(), MenuStatus::setUp);
    EXPECT_TRUE(find("setupCard")->isVisibleTo(menu.get()));
}

// Text reads at 4.5:1 on what it sits on, light and dark: the status word on its chip in every
// status, secondary lines on the window and on a card, the buttons' labels, a hovered row.
TEST_F(PopoverTest, TextStandsOutFromItsGround) {
    using Plovander::Look::contrast;
    EXPECT_NEAR(contrast(QColor(0x707070), QColor(0xE1E1E1)), 3.79, 0.01);
    // How far a widget's text stands from its ground: the colour most of its pixels have.
    const auto textContrast = [&](const QWidget& widget) {
        const QImage image = menu->grab(QRect(widget.mapTo(menu.get(), QPoint()), widget.size())).toImage();
        std::map<QRgb, int> counts;
        for (int pixel = 0; pixel < image.width() * image.height(); ++pixel) {
            ++counts[image.pixel(pixel % image.width(), pixel / image.width())];
        }
        const QRgb ground = std::ranges::max_element(counts, {}, [](const auto& entry) { return entry.second; })->first;
        double furthest = 1;
        for (const auto& [colour, count] : counts) furthest = std::max(furthest, contrast(colour, ground));
        return furthest;
    };
    const QFont font = QApplication::font();
    const QPalette palette = QApplication::palette();
    QFont aliased = font;
    aliased.setStyleStrategy(QFont::NoAntialias); // each pixel of a letter in the text's own colour
    QApplication::setFont(aliased);
    QEnterEvent pointer(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(find("quit"), &pointer);
    for (const QPalette& shades : {palette, QPalette(QColor(58, 58, 60), QColor(40, 40, 42))}) {
        QApplication::setPalette(shades);
        settleEvents();
        for (int status = 0; status <= static_cast<int>(MenuStatus::setUp); ++status) {
            find<Plovander::StatusChip>("statusChip")->present(MenuStatus(status));
            EXPECT_GE(textContrast(*find("statusChip")), 4.5) << status;
        }
        for (const QWidget* text : visible(*menu, {})) {
            const QString shown = text->property("text").toString();
            if (shown.isEmpty()) continue;
            EXPECT_GE(textContrast(*text), 4.5) << shown.toStdString();
        }
    }
    QApplication::setFont(font);
    QApplication::setPalette(palette);
}

// Each opening publishes the login item's state and traces whether the screen may be recorded.
TEST_F(PopoverTest, EachOpeningPublishesTheLoginItemAndTracesScreenRecording) {
    using Platform::LoginItems;
    for (const auto& [status, state] :
         {std::pair{LoginItems::Status::enabled, Plovander::LoginItem::State::Case::enabled},
          std::pair{LoginItems::Status::requiresApproval, Plovander::LoginItem::State::Case::needsApproval}}) {
        environment.logins.statuses[LoginItems::Item::agent] = status;
        newTrace();
        menu->opened();
        Plovander::TraceLog::flush();
        EXPECT_EQ(session->loginItem().value, state);
        const auto trace = newTrace();
        EXPECT_NE(std::find(trace.begin(), trace.end(), "screen recording granted=true alreadyAsked=false"),
                  trace.end());
    }
}

// The popover follows its content at once, in both directions: a transfer's row that ends leaves no
// room behind.
TEST_F(PopoverTest, AnEndedTransferLeavesNoRoomBehindInThePopover) {
    pairAndApprove(Device{"Jo's iPhone"});
    Plovander::HostTray host(*session, *probe, environment, environment.desktopWorkspace, environment.folder.path());
    host.start(true);
    const auto settled = [&] {
        settleEvents();
        return host.popover().height();
    };
    const int without = settled();
    std::ofstream(environment.folder.path() / "notes.txt") << std::string(1 << 22, 'x');
    session->transfers().send(environment.folder.path() / "notes.txt");
    ASSERT_EQ(session->transfers().active().size(), 1u);
    EXPECT_GT(settled(), without);
    session->transfers().cancel(session->transfers().active().front().key());
    ASSERT_TRUE(until([&] { return session->transfers().active().empty(); }));
    EXPECT_EQ(settled(), without);
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
    session->trusted().add(
        {.publicKey = twin.key, .name = twin.name, .pairedAt = environment.actor.now(), .lastSeenAt = {}});
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
    Q_EMIT row->renameSubmitted();
    EXPECT_EQ(session->pairedDevices().front().name, "<i>x</i>\u202E") << "unchanged, the field saves nothing";
}

// The switches are real switches: keyboard toggling reaches the session, a model change redraws
// without calling back, and assistive technology reads a named toggle.
TEST_F(PopoverTest, TheAvailabilitySwitchTogglesByKeyAndFollowsTheModel) {
    listenFor(Device{"Jo's iPhone"});
    auto* toggle = find("availableRow")->findChild<Plovander::Switch*>("switch");
    ASSERT_NE(toggle, nullptr);
    ASSERT_TRUE(toggle->isChecked());
    session->stopSharing(StopReason::userStopped());
    EXPECT_EQ(find("availableRow")->findChild<QLabel*>("subtitle")->text(), "Paused: sharing was stopped on this Mac");
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Space ? " " : "\r");
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, key == Qt::Key_Space ? " " : "\r");
        QApplication::sendEvent(toggle, &press);
        QApplication::sendEvent(toggle, &release);
        EXPECT_EQ(session->listensAutomatically(), key == Qt::Key_Return) << "each key toggles once";
    }

    int calls = 0;
    QObject::connect(toggle, &Plovander::Switch::toggled, [&] { ++calls; });
    session->setListensAutomatically(false);
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_EQ(calls, 0) << "a redraw from the model must not write back";

    QAccessibleInterface* reading = QAccessible::queryAccessibleInterface(toggle);
    ASSERT_NE(reading, nullptr);
    EXPECT_EQ(reading->text(QAccessible::Name), "Available to my devices");
    EXPECT_TRUE(reading->state().checkable);
    EXPECT_FALSE(reading->state().checked);
    environment.actor.runUntilIdle();
}

TEST_F(PopoverTest, ALongDeviceNameIsElidedBesideTheForgetConfirmation) {
    const QString name = QString(60, QChar('W'));
    listenFor(Device{name.toStdString()});
    auto* row = find<Plovander::DeviceRow>("deviceRow");
    auto* label = row->findChild<Plovander::ElidedLabel*>("deviceName");
    Q_EMIT row->forgetRequested();
    QApplication::processEvents();
    ASSERT_TRUE(row->findChild<QPushButton*>("confirmForget")->isVisibleTo(menu.get()));
    EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << label->text().toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width());
    EXPECT_TRUE(label->toolTip().contains(name));

    label->resize(label->fontMetrics().horizontalAdvance(name) + 4, label->height());
    EXPECT_EQ(label->text(), name) << "re-elided when there is room again";
}

} // namespace
} // namespace Testing
