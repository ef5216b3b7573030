#pragma once

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
}

} // namespace Testing
