#pragma once

#include <QWidget>

#include <cstdint>

class QComboBox;
class QPushButton;

namespace Plovander {

class CaptureProbe;
class StreamingSession;

// "Display": the display to share. Before the list is loaded, a button loads it. Picking another
// display while a device is connected asks the session to switch; the picker keeps showing the
// shared display until the switch has gone through.
class DisplaySection final : public QWidget {
    Q_OBJECT

public:
    DisplaySection(StreamingSession& session, CaptureProbe& capture, QWidget* parent = nullptr);

private:
    void refresh();
    void picked(int index);

    StreamingSession& session_;
    CaptureProbe& capture_;
    QWidget* loadRow_;
    QPushButton* load_;
    QWidget* pickerRow_;
    QComboBox* picker_;
    // What the picker shows: the selection, or during a switch the display shared before it.
    std::uint32_t shown_ = 0;
    bool switching_ = false;
};

} // namespace Plovander
