#include "app/ui/OwnWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace Plovander::OwnWindow {
namespace {

QRect available(const QWidget& window) {
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    return screen->availableGeometry();
}

// The frame around the content; before the desktop has framed the window, a title bar's height.
QSize frame(const QWidget& window) {
    const QSize framed = window.frameGeometry().size() - window.size();
    if (framed.height() > 0) return framed;
    return {0, window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window)};
}

void keepOnScreen(QWidget& window, bool centre) {
    const QRect area = available(window);
    const QSize outer = window.size() + frame(window);
    QPoint corner = centre ? area.center() - QRect(QPoint(), outer).center() : window.frameGeometry().topLeft();
    corner.setX(std::clamp(corner.x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())));
    corner.setY(std::clamp(corner.y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
    window.move(corner);
}

} // namespace

QSize room(const QWidget& window) { return available(window).size() - frame(window); }

void present(QWidget& window, bool centre, const std::function<void()>& fit) {
    fit();
    keepOnScreen(window, centre);
    window.show();
    fit();
    keepOnScreen(window, false);
    window.raise();
    window.activateWindow();
}

void closeOnKeys(QWidget& window) {
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        QObject::connect(new QShortcut(keys, &window), &QShortcut::activated, &window, &QWidget::close);
    }
}

} // namespace Plovander::OwnWindow
