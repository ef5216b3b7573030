#include "app/ui/HostMenuView.h"
#include "app/ui/HostTray.h"
#include "app/ui/Look.h"
#include "tests/app/shell/StreamingSessionFixture.h"
#include "tests/support/SystemTray.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/XvfbServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QWidget>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace Testing {
namespace {

// The application on a private X server with a real tray, at the top or the bottom of the screen.
class HostTrayTest : public StreamingSessionTest {
protected:
    static void SetUpTestSuite() {
        xvfb = new XvfbServer();
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", QByteArray::fromStdString(xvfb->displayName()));
        static int count = 1;
        static char name[] = "ui_tray_tests";
        static char* arguments[] = {name, nullptr};
        application = new QApplication(count, arguments);
    }
    static void TearDownTestSuite() {
        delete application;
        delete xvfb;
    }

    void TearDown() override {
        host.reset();
        tray.reset();
        StreamingSessionTest::TearDown();
    }

    // Starts a tray along `edge`, then the application's icon in it, once embedded.
    void startIn(SystemTray::Edge edge) {
        tray = std::make_unique<SystemTray>(xvfb->displayName(), edge);
        host = std::make_unique<Plovander::HostTray>(*session, *probe, environment, environment.desktopWorkspace,
                                                     downloads.path());
        host->start(true);
        ASSERT_TRUE(host->usesTray());
        // Embedded once it sits in the tray, at the right end of the screen's edge.
        ASSERT_TRUE(settle([&] { return host->icon()->geometry().center().x() > screen().width() / 2; }));
    }

    static QRect screen() { return QGuiApplication::primaryScreen()->geometry(); }

    // Runs Qt's event loop until `done`, for at most `patience` milliseconds (generous: a loaded machine
    // embeds the icon slowly).
    static bool settle(const std::function<bool()>& done, qint64 patience = 20000) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < patience) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }

    // A real click of the first button at `point` (in Qt's coordinates), through the X server.
    static void click(QPoint point) {
        const QPoint pixel = point * qApp->devicePixelRatio();
        Display* display = XOpenDisplay(xvfb->displayName().c_str());
        ASSERT_NE(display, nullptr);
        XTestFakeMotionEvent(display, -1, pixel.x(), pixel.y(), CurrentTime);
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
        XCloseDisplay(display);
    }

    // Whether the X server holds `type` among the window types of `window`.
    static bool hasWindowType(const QWidget& window, const char* type) {
        Display* display = XOpenDisplay(xvfb->displayName().c_str());
        Atom actual = 0;
        Atom* types = nullptr;
        int format = 0;
        unsigned long count = 0, left = 0;
        XGetWindowProperty(display, window.winId(), XInternAtom(display, "_NET_WM_WINDOW_TYPE", False), 0, 8, False,
                           AnyPropertyType, &actual, &format, &count, &left, reinterpret_cast<unsigned char**>(&types));
        const bool held = std::find(types, types + count, XInternAtom(display, type, False)) != types + count;
        XFree(types);
        XCloseDisplay(display);
        return held;
    }

    // With PLOVANDER_SCREENSHOTS naming a folder, a picture of the whole screen for looking at by eye.
    static void shootScreen(const QString& name) {
        const QByteArray folder = qgetenv("PLOVANDER_SCREENSHOTS");
        if (folder.isEmpty()) return;
        QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(folder) + "/" + name + ".png");
    }

    static inline XvfbServer* xvfb = nullptr;
    static inline QApplication* application = nullptr;
    TemporaryDirectory downloads;
    std::unique_ptr<SystemTray> tray;
    std::unique_ptr<Plovander::HostTray> host;
};

TEST_F(HostTrayTest, AClickOnTheIconOpensThePopoverBesideItAndASecondClosesIt) {
    startIn(SystemTray::Edge::top);
    const QRect icon = host->icon()->geometry();

    click(icon.center());
    ASSERT_TRUE(settle([&] { return host->popover().isVisible(); }));
    const QRect popover = host->popover().frameGeometry();
    // Just below the icon, which sits in a tray at the top of the screen.
    EXPECT_LE(std::abs(popover.top() - icon.bottom()), 12) << popover.top() << " " << icon.bottom();
    EXPECT_LE(popover.left(), icon.center().x());
    EXPECT_GE(popover.right(), icon.center().x());
    // A native popup menu's type, under which a compositor shadows it.
    EXPECT_TRUE(hasWindowType(host->popover(), "_NET_WM_WINDOW_TYPE_POPUP_MENU"));
    shootScreen("tray-top");

    click(icon.center());
    EXPECT_TRUE(settle([&] { return !host->popover().isVisible(); }));
    // And the click that closed it does not open it again.
    settle([] { return false; }, 500);
    EXPECT_FALSE(host->popover().isVisible());
}

// "Pair a device" makes the popover taller: it grows upwards from the icon of a tray at the bottom,
// stays on the screen as far from the icon, and where the screen cannot hold it its middle scrolls
// while the footer stays. Its edge is a whole line that stands apart from it, light and dark.
TEST_F(HostTrayTest, WithTheTrayAtTheBottomThePopoverStaysOnTheScreenAfterPairADevice) {
    listenFor(Device{"Jo's iPhone"});
    startIn(SystemTray::Edge::bottom);
    const QRect icon = host->icon()->geometry();
    ASSERT_GT(icon.top(), screen().height() / 2);
    click(icon.center());
    ASSERT_TRUE(settle([&] { return host->popover().isVisible(); }));
    const int before = host->popover().height();
    const int gap = icon.top() - host->popover().frameGeometry().bottom();
    for (const bool dark : {false, true}) {
        host->popover().setPalette(dark ? QPalette(QColor(58, 58, 60), QColor(40, 40, 42)) : QApplication::palette());
        QCoreApplication::processEvents();
        shootScreen(dark ? "tray-bottom-dark" : "tray-bottom");
        const QImage shown = host->popover().grab().toImage();
        const int right = shown.width() - 1, bottom = shown.height() - 1;
        for (const QPoint pixel :
             {QPoint(0, bottom / 2), QPoint(right, bottom / 2), QPoint(right / 2, 0), QPoint(right / 2, bottom)})
            EXPECT_NEAR(Plovander::Look::contrast(shown.pixelColor(pixel), host->popover().palette().window().color()),
                        1.7, 0.2);
    }
    host->popover().setPalette({});

    host->menu().findChild<QAbstractButton*>("pairDeviceCompact")->click();
    ASSERT_TRUE(settle([&] { return host->popover().height() > before && session->pairingCode(); }));
    const QRect popover = host->popover().frameGeometry();
    const auto onScreen = [&] {
        const QRect now = host->popover().frameGeometry();
        return screen().contains(now) && icon.top() - now.bottom() == gap;
    };
    EXPECT_TRUE(settle(onScreen)) << popover.top() << ".." << popover.bottom() << " above " << icon.top();
    shootScreen("tray-bottom-pairing");

    const auto* quit = host->menu().findChild<QWidget*>("quit");
    EXPECT_TRUE(host->popover().rect().contains(QRect(quit->mapTo(&host->popover(), QPoint()), quit->size())));
    const auto* middle = host->menu().findChild<QScrollArea*>("middle");
    EXPECT_EQ(middle->verticalScrollBar()->isVisible(), middle->widget()->height() > middle->viewport()->height());
}

} // namespace
} // namespace Testing
