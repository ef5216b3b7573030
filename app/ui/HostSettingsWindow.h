#pragma once

#include <QWidget>

namespace Platform {
class Environment;
}

namespace Plovander {

class AboutSection;
class CaptureProbe;
class GeneralSection;
class Section;
class StreamingSession;

// "Plovander Settings": one scrolling column of sections — General, Connect from another network
// (once a device is paired), Display, Diagnostics (when shown) and About. Made once and kept;
// closing hides it.
class HostSettingsWindow final : public QWidget {
    Q_OBJECT

public:
    // The wake check waits this long for an answer.
    static constexpr double wakePatienceSeconds = 5;

    // Everything passed outlives the window.
    HostSettingsWindow(StreamingSession& session, CaptureProbe& capture, Platform::Environment& environment,
                       QWidget* parent = nullptr);
    // Shows the window where the user left it (centred the first time) and brings it to the front;
    // the login item and the wake setting are read again.
    void open();

protected:
    bool focusNextPrevChild(bool next) override;

private:
    void refresh();
    void setShowsDiagnostics(bool on);

    StreamingSession& session_;
    Platform::Environment& environment_;
    GeneralSection* general_;
    Section* connect_;
    Section* diagnostics_;
    AboutSection* about_;
    bool placed_ = false;
};

} // namespace Plovander
