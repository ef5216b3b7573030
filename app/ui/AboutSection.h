#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;

namespace Plovander {

class SeparatedText;
class StreamingSession;

// "About": the version, the switch that shows the Diagnostics section, and this computer's ID once
// it has one.
class AboutSection final : public QWidget {
    Q_OBJECT

public:
    AboutSection(StreamingSession& session, bool showsDiagnostics, QWidget* parent = nullptr);
    // The ID row appears with the identity, at the next redraw.
    void refresh();

Q_SIGNALS:
    void showsDiagnosticsToggled(bool on);

private:
    StreamingSession& session_;
    QWidget* idRow_;
    SeparatedText* fingerprint_;
};

} // namespace Plovander
