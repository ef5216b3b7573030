#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;

namespace Plovander {

class StreamingSession;

// A plain window over the controller: the status, the pairing code, the device waiting for
// approval and the two availability switches, with the actions that go with them.
class HostWindow final : public QWidget {
    Q_OBJECT

public:
    explicit HostWindow(StreamingSession& session, QWidget* parent = nullptr);

private:
    void refresh();

    StreamingSession& session_;
    QLabel* status_;
    QLabel* code_;
    QLabel* problem_;
    QPushButton* share_;
    QPushButton* stop_;
    QPushButton* approve_;
    QPushButton* decline_;
    QCheckBox* remoteControl_;
    QCheckBox* available_;
};

} // namespace Plovander
