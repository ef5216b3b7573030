#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <filesystem>
#include <memory>

class QSystemTrayIcon;
class QWidget;

namespace Platform {
class Environment;
class Workspace;
} // namespace Platform

namespace Plovander {

class CaptureProbe;
class HostFilesWindow;
class HostMenuView;
class HostSettingsWindow;
class StreamingSession;

// The application's face: a tray icon whose click opens the popover beside it (or at the pointer
// where the tray gives no place), or, where the desktop has no tray, a window titled "Plovander"
// holding the same content. Owns the files and settings windows.
class HostTray final : public QObject {
    Q_OBJECT

public:
    // Everything passed outlives the tray; `workspace` shows received files.
    HostTray(StreamingSession& session, CaptureProbe& capture, Platform::Environment& environment,
             Platform::Workspace& workspace, std::filesystem::path downloads, QObject* parent = nullptr);
    ~HostTray() override;

    // Shows the icon, or the window when there is no tray. A window that a second launch can bring
    // back hides when closed; otherwise closing it quits.
    void start(bool canBeBroughtBack);
    bool usesTray() const;
    // Opens the popover, or closes it when it is open; the window is brought to the front.
    void toggle();
    // Opens the popover (or the window) without toggling.
    void present();
    QWidget& popover() const { return *popover_; }
    HostMenuView& menu() const { return *menu_; }
    HostFilesWindow& files() const { return *files_; }
    HostSettingsWindow& settings() const { return *settings_; }
    QSystemTrayIcon* icon() const { return icon_; }

private:
    // Where the popover opens: beside the icon, on the side away from the panel.
    void anchor();
    // Puts the popover against its anchor at its present size.
    void move();
    void openFiles();
    void openSettings();

    std::unique_ptr<QWidget> popover_;
    HostMenuView* menu_;
    std::unique_ptr<HostFilesWindow> files_;
    std::unique_ptr<HostSettingsWindow> settings_;
    QSystemTrayIcon* icon_ = nullptr;
    QRect anchor_;
    QRect room_;
    bool below_ = true;
    // When the popover last closed: a click on the icon that closed it must not reopen it.
    QElapsedTimer closedAt_;
};

} // namespace Plovander
