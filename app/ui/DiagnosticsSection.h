#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace Plovander {

class CaptureProbe;
class StreamingSession;

// "Diagnostics": the capture probe's status, its counters and summaries once it has counted a frame
// or runs, and a local encoder test to start and stop.
class DiagnosticsSection final : public QWidget {
    Q_OBJECT

public:
    DiagnosticsSection(StreamingSession& session, CaptureProbe& capture, QWidget* parent = nullptr);

private:
    void refresh();

    StreamingSession& session_;
    CaptureProbe& capture_;
    QLabel* status_;
    QLabel* counters_;
    QPushButton* load_;
    QPushButton* test_;
    QPushButton* stop_;
};

} // namespace Plovander
