#include "app/ui/Card.h"
#include "app/ui/DeviceRow.h"
#include "app/ui/ElidedLabel.h"
#include "app/ui/HostFilesWindow.h"
#include "app/ui/HostSettingsWindow.h"
#include "app/ui/MenuRow.h"
#include "tests/app/ui/PopoverFixture.h"
#include "tests/support/BlockingWork.h"

#include <QAbstractScrollArea>
#include <QLabel>
#include <QScreen>

#include <fstream>

namespace Testing {
namespace {

QRect placeIn(const QWidget& widget, const QWidget& root) { return {widget.mapTo(&root, QPoint()), widget.size()}; }

// Where `root` shows `widget`: the viewport of the column it scrolls in, or all of `root`.
QRect shownArea(const QWidget& widget, const QWidget& root) {
    for (const QWidget* up = widget.parentWidget(); up && up != &root; up = up->parentWidget()) {
        const auto* column = qobject_cast<const QAbstractScrollArea*>(up);
        if (column && column->viewport()->isAncestorOf(&widget)) return placeIn(*column->viewport(), root);
    }
    return root.rect();
}

// The widgets inside `root` that reach past the sides of where it shows them, that are narrower than
// they can be (a label narrower than its longest word cuts it), or whose wrapped text is taller than
// they are; each named by its text where it has one. Columns scroll, so only the sides count.
std::vector<std::string> misfits(const QWidget& root) {
    std::vector<std::string> found;
    for (const QWidget* widget : root.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&root) || widget->width() == 0) continue;
        const auto* label = qobject_cast<const QLabel*>(widget);
        const std::string name = (label ? label->text() : QString(widget->metaObject()->className())).toStdString();
        const QRect place = placeIn(*widget, root);
        const QRect shown = shownArea(*widget, root);
        if (place.left() < shown.left() || place.right() > shown.right()) found.push_back(name + " lies outside");
        if (widget->width() < widget->minimumSizeHint().width()) found.push_back(name + " is cut");
        if (label && label->wordWrap() && widget->height() < widget->heightForWidth(widget->width())) {
            found.push_back(name + " is cut short");
        }
    }
    return found;
}

// Each state of the popover, and both windows, at a text size: nothing in them is cut, nothing lies
// outside them. The same table runs again at scale 2 (tests/CMakeLists.txt).
class LayoutFitTest : public PopoverTest, public ::testing::WithParamInterface<std::tuple<std::string, int>> {
protected:
    // The text size stays through `renew`, which tears down and sets up again.
    ~LayoutFitTest() override { QApplication::setFont(font); }

    void TearDown() override {
        settings.reset();
        files.reset();
        finishBlockingWork();
        PopoverTest::TearDown();
    }

    // Brings a controller made at the row's text size to the row's state; returns what shows it.
    QWidget& show(const std::string& state) {
        if (state == "approval") {
            startSharing();
            auto media = connect(Role::media, "Pairing", Device{}.key);
            connect(Role::control, "Pairing", Device{}.key);
            receive(media, Role::media,
                    TessaloyNet::PairingExchange(Device{}.key, "Alexandra's iPhone 15 Pro Max (Work)").packet());
        } else if (state == "pairing") {
            startSharing();
        } else if (state == "session") {
            pairAndApprove(Device{"Jo's iPhone"});
            session->applyPrivacy({true, true});
            for (const char* name : {"holiday-photos-from-the-coast-2024.zip", "notes.txt"}) {
                std::ofstream(environment.folder.path() / name) << std::string(1 << 22, 'x');
                session->transfers().send(environment.folder.path() / name);
            }
        } else if (state == "devices") {
            listenFor(Device{"Alex's iPhone"});
            Q_EMIT find<Plovander::DeviceRow>("deviceRow")->forgetRequested();
        } else if (state == "attention") {
            environment.displaysFail = true;
            session->trusted().add(
                {.publicKey = Device{}.key, .name = "Alex's iPhone", .pairedAt = {}, .lastSeenAt = {}});
            session->reloadPairedDevices();
            session->setListensAutomatically(true);
            EXPECT_TRUE(until([&] { return session->setupProblem().has_value(); }));
        } else if (state == "stopped") {
            listenFor(Device{"Alex's iPhone"});
            session->stopSharing(StopReason::userStopped());
        } else if (state == "settings") {
            // Diagnostics shown, and a wired and a VPN address, the VPN one IPv6.
            using Kind = Platform::Interfaces::Kind;
            environment.defaults.setBoolean("ShowsDiagnostics", true);
            listenFor(Device{"Jo's iPhone"});
            environment.network.setInterfaces(
                {FakeInterfaces::link("eth0", Kind::wired, {"192.168.1.20", "2001:db8:85a3:1234:5678:8a2e:370:7334"}),
                 FakeInterfaces::link("tailscale0", Kind::tunnel, {"fd7a:115c:a1e0:ab12:4843:cd96:6258:b240"})});
            environment.networkWatch.change();
            EXPECT_TRUE(until([&] { return session->interfaceAddresses().size() == 3 && session->identity(); }));
            settings = std::make_unique<Plovander::HostSettingsWindow>(*session, *probe, environment);
            settings->open();
            return *settings;
        } else if (state == "files") {
            pairAndApprove(Device{"Jo's iPhone"});
            using Finished = Plovander::HostTransfers::Finished;
            std::vector<Finished> finished;
            for (int index = 0; index < 12; ++index)
                finished.push_back({QUuid::createUuid(), "photo.jpg", true, Finished::Outcome::done(), {}, {}});
            session->transfers().setFinished(finished);
            files = std::make_unique<Plovander::HostFilesWindow>(
                *session, session->transfers(), environment.desktopWorkspace, environment.folder.path());
            files->open();
            return *files;
        }
        environment.actor.runUntilIdle();
        settleEvents();
        menu->resize(menu->width(), menu->heightForWidth(menu->width()));
        return *menu;
    }

    const QFont font = QApplication::font();
    std::unique_ptr<Plovander::HostSettingsWindow> settings;
    std::unique_ptr<Plovander::HostFilesWindow> files;
};

TEST_P(LayoutFitTest, NothingIsCutAndNothingLiesOutside) {
    const auto& [state, points] = GetParam();
    QFont sized = font;
    sized.setPointSize(points);
    QApplication::setFont(sized);
    renew();
    QWidget& root = show(state);
    settleEvents();
    EXPECT_EQ(misfits(root), std::vector<std::string>());
    if (&root != menu.get()) {
        EXPECT_TRUE(root.screen()->availableGeometry().contains(root.frameGeometry())) << "the window, on the screen";
    } else {
        const QRect chip = placeIn(*find("statusChip"), root);
        const QRect name = placeIn(*find("hostName"), root);
        EXPECT_TRUE(chip.top() < name.bottom() || chip.left() == name.left()) << "the chip, beside or under the names";
        const QWidget* card = visible<Plovander::Card>(root, {}).first();
        EXPECT_EQ(find("quit")->mapTo(&root, QPoint(Plovander::MenuRow::inset, 0)).x(), placeIn(*card, root).x())
            << "the footer's titles start where the content above them does";
    }
    for (const auto* name : root.findChildren<Plovander::ElidedLabel*>("deviceName"))
        EXPECT_EQ(name->text(), name->fullText()) << "a short name is never squeezed";
    if (files) {
        const QRect clear = placeIn(*files->findChild<QWidget*>("clearList"), root);
        EXPECT_EQ(root.width() - 1 - clear.right(), placeIn(*files->findChild<QWidget*>("openDownloads"), root).left())
            << "Clear list at the footer's end, in from it as far as Open Downloads";
    }
    for (const auto* address : root.findChildren<QLabel*>("address"))
        EXPECT_FALSE(address->text().contains('\n')) << "an address keeps to one line";
}

INSTANTIATE_TEST_SUITE_P(EveryState, LayoutFitTest,
                         ::testing::Combine(::testing::Values("setup", "approval", "pairing", "session", "devices",
                                                              "attention", "stopped", "settings", "files"),
                                            ::testing::Values(9, 11, 14, 16)));

} // namespace
} // namespace Testing
