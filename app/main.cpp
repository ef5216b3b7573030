#include "app/shell/SignalQuitter.h"
#include "app/trace/TraceLog.h"
#include "platform/linux/SettingsUserDefaults.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace Plovander;

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Plovander");
    QApplication::setQuitOnLastWindowClosed(false);
    SignalQuitter signalQuitter;

    const std::vector<std::string> arguments(argv + 1, argv + argc);
    Platform::Linux::SettingsUserDefaults defaults(Platform::Linux::SettingsUserDefaults::defaultPath(),
                                                   Platform::UserDefaults::parseLaunchArguments(arguments));
    TraceLog::configure(TraceLog::configurationFrom(defaults, [](const char* name) { return std::getenv(name); }));
    TraceLog::message("Plovander started");

    QMenu menu;
    QObject::connect(menu.addAction("Quit Plovander"), &QAction::triggered, &application, &QApplication::quit);

    std::unique_ptr<QSystemTrayIcon> tray;
    std::unique_ptr<QWidget> window;
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray = std::make_unique<QSystemTrayIcon>(QApplication::style()->standardIcon(QStyle::SP_ComputerIcon));
        tray->setToolTip("Plovander");
        tray->setContextMenu(&menu);
        tray->show();
    } else {
        // No tray on this desktop: a small window stands in for the menu-bar extra.
        window = std::make_unique<QWidget>();
        window->setWindowTitle("Plovander");
        auto* layout = new QVBoxLayout(window.get());
        layout->addWidget(new QLabel("Plovander"));
        auto* quit = new QPushButton("Quit Plovander");
        QObject::connect(quit, &QPushButton::clicked, &application, &QApplication::quit);
        layout->addWidget(quit);
        window->show();
    }

    const int status = QApplication::exec();
    TraceLog::message("Plovander quit");
    return status;
}
