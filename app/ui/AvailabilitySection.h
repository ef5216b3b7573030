#pragma once

#include <QWidget>

namespace Plovander {

class StreamingSession;
class SwitchRow;

// "Available to my devices", and while it is on, the relay switch "Plovander Connect".
class AvailabilitySection final : public QWidget {
    Q_OBJECT

public:
    explicit AvailabilitySection(StreamingSession& session, QWidget* parent = nullptr);

private:
    void refresh();

    StreamingSession& session_;
    SwitchRow* available_;
    SwitchRow* relay_;
};

} // namespace Plovander
