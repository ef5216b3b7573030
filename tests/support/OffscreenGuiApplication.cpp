#include "tests/support/OffscreenGuiApplication.h"

#include <QCoreApplication>
#include <QGuiApplication>

namespace Testing {
namespace {

int argumentCount = 1;
char programName[] = "plovander_tests";
char* arguments[] = {programName, nullptr};
QGuiApplication* made = nullptr;

} // namespace

void OffscreenGuiApplication::start() {
    if (QCoreApplication::instance()) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    made = new QGuiApplication(argumentCount, arguments);
}

void OffscreenGuiApplication::stop() {
    delete made;
    made = nullptr;
}

bool OffscreenGuiApplication::isAvailable() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

} // namespace Testing
