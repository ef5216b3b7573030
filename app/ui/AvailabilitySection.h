#pragma once

#include <QWidget>

namespace Plovander {

class StreamingSession;
class SwitchRow;

// "Available to my devices", and while it is on, the relay switch "Plovander Connect"; then "Allow
// remote control", which has no settings window to live in yet.
class AvailabilitySection final : public QWidget {
    Q_OBJECT

public:
    explicit AvailabilitySection(StreamingSession& session, QWidget* parent = nullptr);

private:
    void refresh();

    StreamingSession& session_;
    SwitchRow* available_;
    SwitchRow* relay_;
    SwitchRow* remoteControl_;
};

} // namespace Plovander
