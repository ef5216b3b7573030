#include "app/ui/HostFilesWindow.h"
#include "app/ui/HostSettingsWindow.h"
#include "app/ui/MenuRow.h"
#include "tests/app/ui/PopoverFixture.h"
#include "tests/support/BlockingWork.h"

#include <QLabel>
#include <QScreen>

#include <fstream>

namespace Testing {
namespace {

// The widgets inside `root` that reach past its sides, that are narrower than they can be (a label
// narrower than its longest word cuts it), or whose wrapped text is taller than they are; each named
// by its text where it has one. Columns scroll, so only the sides count.
std::vector<std::string> misfits(const QWidget& root) {
    std::vector<std::string> found;
    for (const QWidget* widget : root.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&root) || widget->width() == 0) continue;
        const auto* label = qobject_cast<const QLabel*>(widget);
        const std::string name = (label ? label->text() : QString(widget->metaObject()->className())).toStdString();
        const int left = widget->mapTo(&root, QPoint()).x();
        if (left < 0 || left + widget->width() > root.width()) found.push_back(name + " leaves the window");
        if (widget->width() < widget->minimumSizeHint().width()) found.push_back(name + " is cut");
        if (label && label->wordWrap() && widget->height() < widget->heightForWidth(widget->width())) {
            found.push_back(name + " is cut short");
        }
    }
    return found;
}

// The settings window and the popover at ordinary text sizes; a second run of the same tests at
// scale 2 is registered beside these.
class LayoutFitTest : public PopoverTest {
protected:
    void TearDown() override {
        QApplication::setFont(font);
        finishBlockingWork();
        PopoverTest::TearDown();
    }

    void useTextSize(int points) const {
        QFont sized = font;
        sized.setPointSize(points);
        QApplication::setFont(sized);
    }

    // Whether `window` lies wholly in its screen's available area.
    static bool onScreen(const QWidget& window) {
        return window.screen()->availableGeometry().contains(window.frameGeometry());
    }

    const QFont font = QApplication::font();
};

TEST_F(LayoutFitTest, NoSectionIsWiderThanTheSettingsWindow) {
    using Kind = Platform::Interfaces::Kind;
    environment.defaults.setBoolean("ShowsDiagnostics", true);
    listenFor(Device{"Jo's iPhone"});
    environment.network.setInterfaces(
        {FakeInterfaces::link("eth0", Kind::wired, {"192.168.1.20", "2001:db8:85a3:1234:5678:8a2e:370:7334"}),
         FakeInterfaces::link("tailscale0", Kind::tunnel, {"fd7a:115c:a1e0:ab12:4843:cd96:6258:b240"})});
    environment.networkWatch.change();
    ASSERT_TRUE(until([&] { return session->interfaceAddresses().size() == 3 && session->identity(); }));
    for (const int points : {9, 11, 14}) {
        useTextSize(points);
        Plovander::HostSettingsWindow window(*session, *probe, environment);
        window.open();
        settleEvents();
        EXPECT_TRUE(onScreen(window)) << points << " pt";
        auto* scroll = window.findChild<QWidget*>("settingsColumn");
        ASSERT_NE(scroll, nullptr);
        const QRect shown(scroll->mapTo(&window, QPoint()), scroll->size());
        EXPECT_EQ(misfits(window), std::vector<std::string>()) << points << " pt";
        for (const char* name : {"generalSection", "connectSection", "displaySection", "diagnosticsSection"}) {
            const QWidget* section = window.findChild<QWidget*>(name);
            EXPECT_LE(section->mapTo(&window, QPoint(section->width(), 0)).x(), shown.right() + 1)
                << name << " at " << points << " pt";
        }
    }
}

// The files window grows with its content up to what the screen holds; then its column scrolls.
TEST_F(LayoutFitTest, TheFilesWindowLiesWhollyOnTheScreen) {
    using Finished = Plovander::HostTransfers::Finished;
    std::vector<Finished> finished;
    for (int index = 0; index < 12; ++index) {
        finished.push_back({.id = QUuid::createUuid(),
                            .name = "photo.jpg",
                            .isIncoming = true,
                            .outcome = Finished::Outcome::done(),
                            .url = {},
                            .date = {}});
    }
    session->transfers().setFinished(finished);
    useTextSize(14);
    Plovander::HostFilesWindow files(*session, session->transfers(), environment.desktopWorkspace,
                                     environment.folder.path());
    files.open();
    settleEvents();
    EXPECT_TRUE(onScreen(files));
    EXPECT_EQ(misfits(files), std::vector<std::string>());
}

TEST_F(LayoutFitTest, NothingInThePopoverIsCutAtLargerText) {
    const auto check = [&](const char* state) {
        settleEvents();
        EXPECT_EQ(misfits(*menu), std::vector<std::string>()) << state << " at " << QApplication::font().pointSize();
    };
    for (const int points : {9, 11, 14}) {
        useTextSize(points);
        renew();
        menu->resize(menu->width(), menu->heightForWidth(menu->width()));
        check("set up");
        const auto [media, control] = pairAndApprove(Device{"Jo's iPhone"});
        session->applyPrivacy({true, true});
        std::ofstream(environment.folder.path() / "holiday-photos-from-the-coast.zip") << std::string(1 << 22, 'x');
        session->transfers().send(environment.folder.path() / "holiday-photos-from-the-coast.zip");
        menu->resize(menu->width(), menu->heightForWidth(menu->width()));
        check("connected");
        // The footer's titles start where the content above them does.
        const QWidget* card = find("sessionCard");
        EXPECT_EQ(find("quit")->mapTo(menu.get(), QPoint(Plovander::MenuRow::inset, 0)).x(),
                  card->mapTo(menu.get(), QPoint()).x());
    }
}

} // namespace
} // namespace Testing
