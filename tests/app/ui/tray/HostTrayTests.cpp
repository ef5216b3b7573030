#include "app/ui/HostTray.h"
#include "tests/app/shell/StreamingSessionFixture.h"
#include "tests/support/SystemTray.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/XvfbServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSystemTrayIcon>
#include <QWidget>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace Testing {
namespace {

// The application on a private X server with a real tray.
class HostTrayTest : public StreamingSessionTest {
protected:
    static void SetUpTestSuite() {
        xvfb = new XvfbServer();
        tray = new SystemTray(xvfb->displayName());
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", QByteArray::fromStdString(xvfb->displayName()));
        static int count = 1;
        static char name[] = "ui_tray_tests";
        static char* arguments[] = {name, nullptr};
        application = new QApplication(count, arguments);
    }
    static void TearDownTestSuite() {
        delete application;
        delete tray;
        delete xvfb;
    }

    // Runs Qt's event loop until `done`, for at most `patience` milliseconds (generous: a loaded machine
    // embeds the icon slowly).
    static bool settle(const std::function<bool()>& done, qint64 patience = 20000) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < patience) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }

    // A real click of the first button at `point`, through the X server.
    static void click(QPoint point) {
        Display* display = XOpenDisplay(xvfb->displayName().c_str());
        ASSERT_NE(display, nullptr);
        XTestFakeMotionEvent(display, -1, point.x(), point.y(), CurrentTime);
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
        XCloseDisplay(display);
    }

    static inline XvfbServer* xvfb = nullptr;
    static inline SystemTray* tray = nullptr;
    static inline QApplication* application = nullptr;
    TemporaryDirectory downloads;
};

TEST_F(HostTrayTest, AClickOnTheIconOpensThePopoverBesideItAndASecondClosesIt) {
    Plovander::HostTray host(*session, *probe, environment, environment.desktopWorkspace, downloads.path());
    host.start(true);
    ASSERT_TRUE(host.usesTray());
    // Embedded once it sits in the tray, at the right of the screen's top edge.
    ASSERT_TRUE(settle([&] { return host.icon()->geometry().center().x() > 960; }));
    const QRect icon = host.icon()->geometry();

    click(icon.center());
    ASSERT_TRUE(settle([&] { return host.popover().isVisible(); }));
    const QRect popover = host.popover().frameGeometry();
    // Just below the icon, which sits in a tray at the top of the screen.
    EXPECT_LE(std::abs(popover.top() - icon.bottom()), 12) << popover.top() << " " << icon.bottom();
    EXPECT_LE(popover.left(), icon.center().x());
    EXPECT_GE(popover.right(), icon.center().x());

    click(icon.center());
    EXPECT_TRUE(settle([&] { return !host.popover().isVisible(); }));
    // And the click that closed it does not open it again.
    settle([] { return false; }, 500);
    EXPECT_FALSE(host.popover().isVisible());
}

} // namespace
} // namespace Testing
