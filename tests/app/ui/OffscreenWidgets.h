#pragma once

#include "app/ui/FocusRingStyle.h"

#include <QAbstractEventDispatcher>
#include <QApplication>

namespace Testing {

// Qt's widgets on its offscreen platform, made once for the whole test program.
inline void startOffscreenWidgets() {
    if (QCoreApplication::instance()) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int count = 1;
    static char name[] = "ui_tests";
    static char* arguments[] = {name, nullptr};
    new QApplication(count, arguments);
    QApplication::setStyle(new Plovander::FocusRingStyle);
}

// Handles events until none is left: a change deep in a window reaches the window's size one
// widget at a time, each through an event of its own.
inline void settleEvents() {
    for (int round = 0; round < 200; ++round) {
        if (!QAbstractEventDispatcher::instance()->processEvents(QEventLoop::AllEvents)) return;
    }
}

} // namespace Testing
