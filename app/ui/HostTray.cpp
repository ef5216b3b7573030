#include "app/ui/HostTray.h"

#include "app/shell/StreamingSession.h"
#include "app/ui/HostFilesWindow.h"
#include "app/ui/HostMenuView.h"
#include "app/ui/HostSettingsWindow.h"
#include "app/ui/Look.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

namespace Plovander {
namespace {

// The popover's window: it tells when it closes, and the stand-in window ends the application.
class PopoverWindow final : public QWidget {
public:
    std::function<void()> onHide;
    std::function<void()> onClose;

protected:
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
    window->setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
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
    if (usesTray()) place();
    popover_->show();
    popover_->raise();
    popover_->activateWindow();
}

void HostTray::place() {
    popover_->adjustSize();
    const QSize size = popover_->sizeHint();
    const QRect iconArea = icon_->geometry();
    const QPoint anchor = iconArea.isValid() ? iconArea.center() : QCursor::pos();
    const QScreen* screen = QGuiApplication::screenAt(anchor);
    const QRect room = screen ? screen->availableGeometry() : QRect(anchor, size);
    // Below an icon in the upper half of the screen, above one in the lower half.
    const bool below = anchor.y() < room.center().y();
    QPoint corner(anchor.x() - size.width() / 2,
                  below ? (iconArea.isValid() ? iconArea.bottom() + 4 : anchor.y())
                        : (iconArea.isValid() ? iconArea.top() : anchor.y()) - size.height() - 4);
    corner.setX(std::clamp(corner.x(), room.left(), std::max(room.left(), room.right() - size.width())));
    corner.setY(std::clamp(corner.y(), room.top(), std::max(room.top(), room.bottom() - size.height())));
    popover_->move(corner);
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
