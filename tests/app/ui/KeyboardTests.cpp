#include "app/ui/HostSettingsWindow.h"
#include "app/ui/Look.h"
#include "app/ui/ReadingOrder.h"
#include "tests/app/ui/PopoverFixture.h"
#include "tests/support/BlockingWork.h"

#include <QTest>

namespace Testing {
namespace {

// Where `widget` sits in `window`.
QRect placeOf(const QWidget& widget, const QWidget& window) { return {widget.mapTo(&window, QPoint()), widget.size()}; }

// Presses Tab in `window` until the focus comes round again; returns the controls it visited.
QList<QWidget*> tabRound(QWidget& window) {
    QApplication::setActiveWindow(&window);
    if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
    QList<QWidget*> visited;
    for (int presses = 0; presses < 100; ++presses) {
        QWidget* focused = QApplication::focusWidget();
        QTest::keyClick(focused && window.isAncestorOf(focused) ? focused : &window, Qt::Key_Tab);
        focused = QApplication::focusWidget();
        if (!focused || visited.contains(focused)) break;
        visited << focused;
    }
    return visited;
}

// Every control that Tab reaches is reached once, in reading order (down the window, and left to
// right where two share a row), and shows the one focus ring while it has the focus.
void expectReadingOrderWithVisibleFocus(QWidget& window) {
    settleEvents();
    if (window.hasHeightForWidth()) window.resize(window.width(), window.heightForWidth(window.width()));
    const QList<QWidget*> visited = tabRound(window);
    ASSERT_FALSE(visited.isEmpty());
    EXPECT_EQ(visited, Plovander::ReadingOrder::controls(window));
    for (qsizetype index = 1; index < visited.size(); ++index) {
        const QRect before = placeOf(*visited[index - 1], window);
        const QRect after = placeOf(*visited[index], window);
        const bool sameRow = after.top() <= before.bottom() && before.top() <= after.bottom();
        EXPECT_TRUE(sameRow ? after.left() > before.left() : after.top() > before.top())
            << visited[index]->objectName().toStdString() << " comes after "
            << visited[index - 1]->objectName().toStdString();
    }
    for (QWidget* control : visited) {
        control->setFocus(Qt::TabFocusReason);
        const QImage focused = control->grab().toImage();
        EXPECT_EQ(focused.pixel(focused.width() / 2, 0), Plovander::Look::focusColor(control->palette()).rgb())
            << control->metaObject()->className() << " " << control->objectName().toStdString();
    }
}

TEST_F(PopoverTest, TabFollowsReadingOrderAndShowsWhereTheFocusIs) {
    listenFor(Device{"Jo's iPhone"});
    session->setUsesConnect(true);
    expectReadingOrderWithVisibleFocus(*menu);
    startSharing();
    expectReadingOrderWithVisibleFocus(*menu);
    // A device asks to connect while the pointer is in use: the prompt opens with its focus shown, on Allow.
    menu->setAttribute(Qt::WA_KeyboardFocusChange, false);
    auto media = connect(Role::media, "Pairing", Device{}.key);
    connect(Role::control, "Pairing", Device{}.key);
    receive(media, Role::media, TessaloyNet::PairingExchange(Device{}.key, "Jo's iPhone").packet());
    EXPECT_TRUE(Plovander::Look::showsFocus(*find("allow")));
    expectReadingOrderWithVisibleFocus(*menu);
}

TEST_F(PopoverTest, TabGoesThroughTheSettingsInReadingOrder) {
    listenFor(Device{"Jo's iPhone"});
    environment.defaults.setBoolean("ShowsDiagnostics", true);
    Plovander::HostSettingsWindow window(*session, *probe, environment);
    window.open();
    expectReadingOrderWithVisibleFocus(window);
    window.close();
    finishBlockingWork();
}

} // namespace
} // namespace Testing
