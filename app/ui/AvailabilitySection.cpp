#include "app/ui/AvailabilitySection.h"

#include "app/shell/StreamingSession.h"
#include "app/ui/SwitchRow.h"
#include "app/ui/decisions/PopoverTexts.h"

#include <QVBoxLayout>

namespace Plovander {

AvailabilitySection::AvailabilitySection(StreamingSession& session, QWidget* parent)
    : QWidget(parent),
      session_(session),
      available_(new SwitchRow("dot.radiowaves.left.and.right", "Available to my devices")),
      relay_(new SwitchRow("globe.americas", "Plovander Connect")) {
    available_->setObjectName("availableRow");
    relay_->setObjectName("relayRow");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 0, 4, 0);
    column->setSpacing(12);
    column->addWidget(available_);
    column->addWidget(relay_);
    connect(available_, &SwitchRow::toggled, this, [this](bool on) { session_.setListensAutomatically(on); });
    connect(relay_, &SwitchRow::toggled, this, [this](bool on) { session_.setUsesConnect(on); });
    for (auto signal : {&StreamingSession::listensAutomaticallyChanged, &StreamingSession::listeningHeldByUserChanged,
                        &StreamingSession::usesConnectChanged, &StreamingSession::relayStatusChanged}) {
        connect(&session_, signal, this, &AvailabilitySection::refresh);
    }
    refresh();
}

void AvailabilitySection::refresh() {
    const bool listens = session_.listensAutomatically();
    available_->present(listens, listens, PopoverTexts::availabilitySubtitle(listens, session_.listeningHeldByUser()));
    const auto& reported = session_.relayStatus();
    const std::optional<QString> status =
        reported.empty() ? std::nullopt : std::optional(QString::fromStdString(reported));
    relay_->present(session_.usesConnect(), PopoverTexts::relayIsOn(session_.usesConnect(), status),
                    PopoverTexts::relaySubtitle(session_.usesConnect(), status));
    relay_->setVisible(listens);
}

} // namespace Plovander
