#include "app/ui/HostTray.h"

#include "app/shell/StreamingSession.h"
#include "app/ui/HostFilesWindow.h"
#include "app/ui/HostMenuView.h"
#include "app/ui/HostSettingsWindow.h"
#include "app/ui/Look.h"
#include "app/ui/ReadingOrder.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

namespace Plovander {
namespace {

// The popover's window: it tells when it closes and when its size changes, and the stand-in window
// ends the application.
class PopoverWindow final : public QWidget {
public:
    std::function<void()> onHide;
    std::function<void()> onClose;
    std::function<void()> onResize;

    // Opening from the tray, it has a native popup menu's edge: a line in the palette's mid tone
    // filling the margin around its content, and the shadow that a compositor gives popup menus.
    void becomePopup() {
        setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
        // The type goes onto the window itself, so the window is made first.
        create();
        setAttribute(Qt::WA_X11NetWmWindowTypePopupMenu);
        layout()->setContentsMargins(1, 1, 1, 1);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!windowFlags().testFlag(Qt::Popup)) return;
        QPainter painter(this);
        // Filled rather than stroked, the line is whole at every scale.
        const QRect whole = rect();
        painter.setClipRegion(QRegion(whole).subtracted(whole.marginsRemoved(layout()->contentsMargins())));
        // A dark palette's mid tone can be the window's own: the line stands apart as a light one's does.
        painter.fillRect(whole,
                         Look::standingOut(palette().color(QPalette::Mid), palette().color(QPalette::Window), 1.7));
    }
    // Tab reaches the popover's controls in reading order, also before any of them has the focus.
    bool focusNextPrevChild(bool next) override { return ReadingOrder::moveFocus(*this, next); }
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        if (onResize) onResize();
    }
    void hideEvent(QHideEvent* event) override {
        QWidget::hideEvent(event);
        if (onHide) onHide();
    }
    void closeEvent(QCloseEvent* event) override {
        QWidget::closeEvent(event);
        if (onClose) onClose();
    }
};

constexpr qint64 reopenGuardMs = 300;
// Between the icon and the popover.
constexpr int gap = 4;

} // namespace

HostTray::HostTray(StreamingSession& session, CaptureProbe& capture, Platform::Environment& environment,
                   Platform::Workspace& workspace, std::filesystem::path downloads, QObject* parent)
    : QObject(parent), popover_(std::make_unique<PopoverWindow>()) {
    auto* window = static_cast<PopoverWindow*>(popover_.get());
    window->setObjectName("popover");
    menu_ = new HostMenuView(session, capture, session.transfers());
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(menu_);
    files_ = std::make_unique<HostFilesWindow>(session, session.transfers(), workspace, std::move(downloads));
    settings_ = std::make_unique<HostSettingsWindow>(session, capture, environment);
    window->onHide = [this] { closedAt_.start(); };
    // Content that grows or shrinks keeps the popover against its icon, growing away from the panel.
    window->onResize = [this] {
        if (usesTray() && popover_->isVisible()) move();
    };
    connect(menu_, &HostMenuView::filesRequested, this, &HostTray::openFiles);
    connect(menu_, &HostMenuView::settingsRequested, this, &HostTray::openSettings);
    connect(menu_, &HostMenuView::quitRequested, qApp, &QApplication::quit);
}

HostTray::~HostTray() = default;

bool HostTray::usesTray() const { return icon_ != nullptr; }

void HostTray::start(bool canBeBroughtBack) {
    auto* window = static_cast<PopoverWindow*>(popover_.get());
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        window->setWindowTitle("Plovander");
        if (!canBeBroughtBack) window->onClose = [] { QApplication::quit(); };
        present();
        return;
    }
    window->becomePopup();
    icon_ = new QSystemTrayIcon(Look::symbol("iphone.radiowaves.left.and.right", Tint::accent), this);
    icon_->setToolTip("Plovander");
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) toggle();
    });
    icon_->show();
}

void HostTray::toggle() {
    if (popover_->isVisible() && usesTray()) return popover_->hide();
    // The click that closed the popover reaches the icon too.
    if (usesTray() && closedAt_.isValid() && closedAt_.elapsed() < reopenGuardMs) {
        closedAt_.invalidate();
        return;
    }
    present();
}

void HostTray::present() {
    menu_->opened();
    if (usesTray()) {
        anchor();
        // Taller content scrolls in the middle of the popover instead of leaving the screen.
        const QMargins edge = popover_->layout()->contentsMargins();
        const int room = below_ ? room_.bottom() - anchor_.bottom() - gap : anchor_.top() - gap - room_.top();
        menu_->setMaximumHeight(std::max(0, room - edge.top() - edge.bottom()));
    } else if (const QScreen* screen = popover_->screen()) {
        menu_->setMaximumHeight(screen->availableGeometry().height());
    }
    popover_->adjustSize();
    if (usesTray()) move();
    popover_->show();
    popover_->raise();
    popover_->activateWindow();
}

void HostTray::anchor() {
    const QRect iconArea = icon_->geometry();
    // Where the tray gives no place, the pointer stands for the icon.
    anchor_ = iconArea.isValid() ? iconArea : QRect(QCursor::pos(), QSize(1, 1));
    const QScreen* screen = QGuiApplication::screenAt(anchor_.center());
    room_ = screen ? screen->availableGeometry() : QGuiApplication::primaryScreen()->availableGeometry();
    // A panel in the upper half of the screen is at its top: the popover opens below the icon.
    below_ = anchor_.center().y() < room_.center().y();
}

void HostTray::move() {
    const QSize size = popover_->size();
    const int x = std::clamp(anchor_.center().x() - size.width() / 2, room_.left(),
                             std::max(room_.left(), room_.right() + 1 - size.width()));
    const int y = below_ ? anchor_.bottom() + 1 + gap : anchor_.top() - gap - size.height();
    popover_->move(x, std::max(room_.top(), y));
}

void HostTray::openFiles() {
    if (usesTray()) popover_->hide();
    files_->open();
}

void HostTray::openSettings() {
    if (usesTray()) popover_->hide();
    settings_->open();
}

} // namespace Plovander
