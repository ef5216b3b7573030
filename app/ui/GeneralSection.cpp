#include "app/ui/GeneralSection.h"

#include "app/services/WakeSetting.h"
#include "app/shell/StreamingSession.h"
#include "app/ui/Look.h"
#include "app/ui/SettingRow.h"
#include "app/ui/SymbolView.h"
#include "app/ui/decisions/SettingsTexts.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

namespace Plovander {
GeneralSection::GeneralSection(StreamingSession& session, TessaloyBase::MainActor& actor,
                               const Platform::MachineInfo& machine, TessaloyBase::MainActor::Duration patience,
                               QWidget* parent)
    : QWidget(parent),
      session_(session),
      actor_(actor),
      machine_(machine),
      patience_(patience),
      awake_(new SettingRow("Keep this Mac awake while available",
                            "A sleeping Mac can't be reached. The display still sleeps.")),
      awakeDivider_(Look::divider()),
      wakeDetail_(Look::label({}, Look::Text::caption, QFont::Normal, true)),
      wakeOn_(Look::label("On", Look::Text::callout, QFont::Normal, true)),
      startAtLogin_(new SettingRow("Start at login", "So this Mac is reachable again after it restarts.")),
      loginFailure_(Look::label({}, Look::Text::caption, QFont::Normal, true)),
      remoteControl_(new SettingRow("Allow remote control", "Lets a connected device move the pointer and type.")),
      injectionHint_(new QWidget) {
    awake_->setObjectName("stayAwake");
    wakeDetail_->setObjectName("wakeDetail");
    wakeOn_->setObjectName("wakeOn");
    startAtLogin_->setObjectName("startAtLogin");
    loginFailure_->setObjectName("loginFailure");
    remoteControl_->setObjectName("remoteControl");
    injectionHint_->setObjectName("injectionHint");

    // No energy settings pane to open here: the row only tells the state.
    auto* wakeText = new QVBoxLayout;
    wakeText->setSpacing(2);
    wakeText->addWidget(Look::label("Wake from your iPhone", Look::Text::body));
    wakeText->addWidget(wakeDetail_);
    auto* wake = new QHBoxLayout;
    wake->setSpacing(8);
    wake->addLayout(wakeText, 1);
    wake->addWidget(wakeOn_);

    // Input goes through the display server's XTEST; there is no permission pane to open.
    auto* hint = new QHBoxLayout(injectionHint_);
    hint->setContentsMargins(0, 0, 0, 0);
    hint->setSpacing(8);
    hint->addWidget(new SymbolView("exclamationmark.circle.fill", Tint::orange, 14));
    hint->addWidget(Look::label("Needs Accessibility permission.", Look::Text::caption), 1);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    column->addWidget(awake_);
    column->addWidget(awakeDivider_);
    column->addLayout(wake);
    column->addWidget(Look::divider());
    column->addWidget(startAtLogin_);
    column->addWidget(loginFailure_);
    column->addWidget(Look::divider());
    column->addWidget(remoteControl_);
    column->addWidget(injectionHint_);

    connect(awake_, &SettingRow::toggled, this, [this](bool on) { session_.setStaysAwakeForPairedDevices(on); });
    connect(startAtLogin_, &SettingRow::toggled, this, [this](bool on) { session_.setStartAtLogin(on); });
    connect(remoteControl_, &SettingRow::toggled, this, [this](bool on) { session_.setAllowsRemoteControl(on); });
    for (auto signal :
         {&StreamingSession::listensAutomaticallyChanged, &StreamingSession::staysAwakeForPairedDevicesChanged,
          &StreamingSession::loginItemChanged, &StreamingSession::allowsRemoteControlChanged}) {
        connect(&session_, signal, this, &GeneralSection::refresh);
    }
    refresh();
}

void GeneralSection::appeared() {
    // The no-answer text shows until this check answers or runs out of time.
    wakeEnabled_.reset();
    refresh();
    const std::uint64_t check = ++wakeCheck_;
    askWakeForNetworkAccess(actor_, machine_, patience_, [self = QPointer(this), check](std::optional<bool> on) {
        if (!self || self->wakeCheck_ != check) return;
        self->wakeEnabled_ = on;
        self->refresh();
    });
}

void GeneralSection::refresh() {
    const bool listens = session_.listensAutomatically();
    awake_->setVisible(listens);
    awakeDivider_->setVisible(listens);
    awake_->present(session_.staysAwakeForPairedDevices());

    wakeDetail_->setText(SettingsTexts::wakeSubtitle(wakeEnabled_));
    wakeOn_->setVisible(wakeEnabled_ == true);

    using Case = LoginItem::State::Case;
    const LoginItem::State& login = session_.loginItem();
    startAtLogin_->present(login.value == Case::enabled || login.value == Case::needsApproval);
    loginFailure_->setText(QStringLiteral("Couldn't turn this on: ") + QString::fromStdString(login.text));
    loginFailure_->setVisible(login.value == Case::unavailable);

    const bool control = session_.allowsRemoteControl();
    remoteControl_->present(control);
    injectionHint_->setVisible(control && !session_.canInjectInput());
}

} // namespace Plovander
