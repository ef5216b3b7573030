#pragma once

#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QVBoxLayout;

namespace Platform {
class Pasteboard;
}

namespace Plovander {

class CheckRow;
class Switch;
class StreamingSession;

// "Connect from another network": the relay switch and its status, the router port choice, and
// this computer's direct addresses, each with a copy button and VPN addresses marked.
class ConnectSection final : public QWidget {
    Q_OBJECT

public:
    ConnectSection(StreamingSession& session, std::shared_ptr<Platform::Pasteboard> pasteboard,
                   QWidget* parent = nullptr);

private:
    void refresh();
    QWidget* addressRow(const QString& address);

    StreamingSession& session_;
    const std::shared_ptr<Platform::Pasteboard> pasteboard_;
    Switch* relay_;
    QLabel* relayStatus_;
    QLabel* explanation_;
    QLabel* direct_;
    CheckRow* routerPortRow_;
    QCheckBox* routerPort_;
    QVBoxLayout* addresses_;
    QLabel* vpnNote_;
};

} // namespace Plovander
