#include "app/ui/Card.h"
#include "app/ui/CheckRow.h"
#include "app/ui/DeviceRow.h"
#include "app/ui/ElidedLabel.h"
#include "app/ui/HostFilesWindow.h"
#include "app/ui/HostSettingsWindow.h"
#include "app/ui/MenuRow.h"
#include "tests/app/ui/PopoverFixture.h"
#include "tests/support/BlockingWork.h"
#include "tests/support/FakeDisplays.h"

#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionComboBox>

#include <fstream>

namespace Testing {
namespace {

const char* const longName = "holiday-photos-from-the-coast-2024-every-day.zip";

QRect placeIn(const QWidget& widget, const QWidget& root) { return {widget.mapTo(&root, QPoint()), widget.size()}; }

// Where `root` shows `widget`: the viewport of the column it scrolls in, or all of `root`.
QRect shownArea(const QWidget& widget, const QWidget& root) {
    for (const QWidget* up = widget.parentWidget(); up && up != &root; up = up->parentWidget()) {
        const auto* column = qobject_cast<const QAbstractScrollArea*>(up);
        if (column && column->viewport()->isAncestorOf(&widget)) return placeIn(*column->viewport(), root);
    }
    return root.rect();
}

// Whether a closed picker shows its entry otherwise than as it shows it cut with "…" to its field.
bool clipsItsEntry(QComboBox& picker) {
    QStyleOptionComboBox option;
    option.initFrom(&picker);
    const int field =
        picker.style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField).width();
    const QString entry = picker.currentText();
    const QImage shown = picker.grab().toImage();
    picker.setItemText(picker.currentIndex(), picker.fontMetrics().elidedText(entry, Qt::ElideRight, field - 2));
    const bool clips = picker.grab().toImage() != shown;
    picker.setItemText(picker.currentIndex(), entry);
    return clips;
}

// The widgets inside `root` that reach past the sides of where it shows them, that are narrower than
// they can be (a label narrower than its longest word cuts it), whose wrapped text is taller than
// they are or puts each word on a line of its own, whose text is cut although it fits, or that
// differ in height from a button beside them; each named by its text where it has one. Columns
// scroll, so only the sides count.
std::vector<std::string> misfits(const QWidget& root) {
    std::vector<std::string> found;
    for (QWidget* widget : root.findChildren<QWidget*>()) {
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
        const auto words = label ? label->text().split(' ', Qt::SkipEmptyParts).size() : 0;
        if (words > 1 && label->wordWrap() &&
            widget->heightForWidth(widget->width()) >= words * label->fontMetrics().height())
            found.push_back(name + " has a word a line");
        const auto* elided = qobject_cast<const Plovander::ElidedLabel*>(widget);
        if (elided && elided->text() != elided->fullText() &&
            elided->fontMetrics().horizontalAdvance(elided->fullText()) <= elided->contentsRect().width())
            found.push_back(name + " is cut with room to spare");
        auto* picker = qobject_cast<QComboBox*>(widget);
        if (picker && clipsItsEntry(*picker)) found.push_back(name + " clips its entry");
        for (const auto* other : widget->parentWidget()->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly)) {
            const bool beside = other->geometry().center().y() == widget->geometry().center().y();
            if (qobject_cast<QPushButton*>(widget) && other->isVisibleTo(&root) && beside &&
                other->height() != widget->height())
                found.push_back(name + " is not as tall as the button beside it");
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
            // Diagnostics shown, a display with a long name, and a wired and a VPN link's addresses.
            using Kind = Platform::Interfaces::Kind;
            environment.defaults.setBoolean("ShowsDiagnostics", true);
            environment.displayList = {FakeDisplays::display(1, 2560, 1440, true, "DELL U2720Q %1 (DP-1)")};
            listenFor(Device{"Jo's iPhone"});
            environment.network.setInterfaces(
                {FakeInterfaces::link("eth0", Kind::wired, {"192.168.1.20", "2001:db8:85a3:1234:5678:8a2e:370:7334"}),
                 FakeInterfaces::link("tailscale0", Kind::tunnel,
                                      {"100.64.12.7", "fd7a:115c:a1e0:ab12:4843:cd96:6258:b240"})});
            environment.networkWatch.change();
            EXPECT_TRUE(until([&] { return session->interfaceAddresses().size() == 4 && session->identity(); }));
            settings = std::make_unique<Plovander::HostSettingsWindow>(*session, *probe, environment);
            settings->open();
            return *settings;
        } else if (state == "files") {
            pairAndApprove(Device{"Jo's iPhone"});
            using Finished = Plovander::HostTransfers::Finished;
            std::vector<Finished> finished;
            for (int index = 0; index < 12; ++index)
                finished.push_back({QUuid::createUuid(), "photo.jpg", true, Finished::Outcome::done(), {}, {}});
            finished.front().name = longName;
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
        const auto* name = files->findChild<QWidget*>("finishedRow")->findChild<QLabel*>(); // the first file's
        EXPECT_EQ(name->text().toStdString(),
                  name->fontMetrics().elidedText(longName, Qt::ElideMiddle, name->contentsRect().width()).toStdString())
            << "a file's name is cut only where its row has no room for it";
    }
    for (const auto* row : visible<Plovander::CheckRow>(root, {})) {
        const auto* title = row->findChild<QLabel*>();
        EXPECT_NEAR(placeIn(row->box(), root).center().y(),
                    placeIn(*title, root).top() + title->fontMetrics().height() / 2, 1)
            << "a check box in line with its title's first line";
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
