#include "app/ui/HostSettingsWindow.h"

#include "app/shell/Settings.h"
#include "app/shell/StreamingSession.h"
#include "app/ui/AboutSection.h"
#include "app/ui/ConnectSection.h"
#include "app/ui/DiagnosticsSection.h"
#include "app/ui/DisplaySection.h"
#include "app/ui/GeneralSection.h"
#include "app/ui/OwnWindow.h"
#include "app/ui/ReadingOrder.h"
#include "app/ui/Section.h"
#include "platform/Environment.h"
#include "platform/UserDefaults.h"

#include <QScrollArea>
#include <QVBoxLayout>

namespace Plovander {
namespace {

constexpr QSize fullSize(460, 620);

} // namespace

HostSettingsWindow::HostSettingsWindow(StreamingSession& session, CaptureProbe& capture,
                                       Platform::Environment& environment, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint),
      session_(session),
      environment_(environment),
      general_(new GeneralSection(session, environment.mainActor(), environment.machineInfo(),
                                  TessaloyBase::MainActor::Duration(wakePatienceSeconds))),
      connect_(new Section("Connect from another network")),
      diagnostics_(new Section("Diagnostics")),
      about_(new AboutSection(session, Settings::isOn(environment.userDefaults(), Settings::showsDiagnostics))) {
    setObjectName("settingsWindow");
    setWindowTitle("Plovander Settings");
    setFixedSize(fullSize);
    OwnWindow::closeOnKeys(*this);
    connect_->setObjectName("connectSection");
    connect_->column()->addWidget(new ConnectSection(session, environment.pasteboard()));
    diagnostics_->setObjectName("diagnosticsSection");
    diagnostics_->column()->addWidget(new DiagnosticsSection(session, capture));

    auto* general = new Section("General");
    general->setObjectName("generalSection");
    general->column()->addWidget(general_);
    auto* display = new Section("Display");
    display->setObjectName("displaySection");
    display->column()->addWidget(new DisplaySection(session, capture));
    auto* about = new Section("About");
    about->setObjectName("aboutSection");
    about->column()->addWidget(about_);

    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(18);
    for (QWidget* section : std::initializer_list<QWidget*>{general, connect_, display, diagnostics_, about}) {
        column->addWidget(section);
    }
    column->addStretch();
    auto* scroll = new QScrollArea;
    scroll->setObjectName("settingsColumn");
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    auto* window = new QVBoxLayout(this);
    window->setContentsMargins(0, 0, 0, 0);
    window->addWidget(scroll);

    connect(about_, &AboutSection::showsDiagnosticsToggled, this, &HostSettingsWindow::setShowsDiagnostics);
    connect(&session_, &StreamingSession::pairedDevicesChanged, this, &HostSettingsWindow::refresh);
    connect(&session_, &StreamingSession::readyChanged, about_, &AboutSection::refresh);
    refresh();
}

void HostSettingsWindow::open() {
    session_.refreshLoginItem();
    about_->refresh();
    // Smaller where the screen is: the column scrolls already.
    OwnWindow::present(*this, !placed_, [this] { setFixedSize(fullSize.boundedTo(OwnWindow::room(*this))); });
    placed_ = true;
    general_->appeared();
}

void HostSettingsWindow::setShowsDiagnostics(bool on) {
    environment_.userDefaults().setBoolean(Settings::showsDiagnostics, on);
    refresh();
}

void HostSettingsWindow::refresh() {
    connect_->setVisible(!session_.pairedDevices().empty());
    diagnostics_->setVisible(Settings::isOn(environment_.userDefaults(), Settings::showsDiagnostics));
}

bool HostSettingsWindow::focusNextPrevChild(bool next) { return ReadingOrder::moveFocus(*this, next); }

} // namespace Plovander
