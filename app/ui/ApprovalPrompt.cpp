#include "app/ui/ApprovalPrompt.h"

#include "app/shell/StreamingSession.h"
#include "app/ui/CheckRow.h"
#include "app/ui/IconTile.h"
#include "app/ui/Look.h"
#include "app/ui/ProminenceButton.h"
#include "app/ui/decisions/DeviceNames.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace Plovander {

ApprovalPrompt::ApprovalPrompt(StreamingSession& session, QWidget* parent)
    : Card(parent),
      session_(session),
      title_(Look::label({}, Look::Text::body, QFont::DemiBold)),
      choice_(new CheckRow("Keep this Mac available to it",
                           "It can then connect any time this Mac is awake. You can turn this off with "
                           "Available to my devices in this menu.")),
      keepAvailable_(&choice_->box()),
      allow_(new ProminenceButton("Allow", true)) {
    setObjectName("approvalPrompt");
    title_->setObjectName("approvalTitle");
    auto* text = new QVBoxLayout;
    text->setSpacing(3);
    text->addWidget(title_);
    QLabel* detail = Look::label("It entered the correct code. Nothing is shared until you allow it.",
                                 Look::Text::caption, QFont::Normal, true);
    text->addWidget(detail);
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->addWidget(new IconTile("person.badge.shield.checkmark", Tint::orange), 0, Qt::AlignTop);
    row->addLayout(text, 1);

    keepAvailable_->setObjectName("keepAvailable");

    auto* decline = new QPushButton("Decline");
    decline->setObjectName("decline");
    allow_->setObjectName("allow");
    allow_->setDefault(true);
    allow_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(decline, 1);
    buttons->addWidget(allow_, 1);

    column()->addLayout(row);
    column()->addWidget(choice_);
    column()->addLayout(buttons);

    connect(decline, &QPushButton::clicked, this, [this] { session_.declinePeer(); });
    connect(allow_, &QPushButton::clicked, this, &ApprovalPrompt::allow);
    connect(keepAvailable_, &QCheckBox::toggled, this, [this](bool on) { session_.setKeepsAvailableOnApproval(on); });
    for (auto signal : {&StreamingSession::pendingPeerNameChanged, &StreamingSession::keepsAvailableOnApprovalChanged,
                        &StreamingSession::listensAutomaticallyChanged}) {
        connect(&session_, signal, this, &ApprovalPrompt::refresh);
    }
    refresh();
}

void ApprovalPrompt::showEvent(QShowEvent* event) {
    Card::showEvent(event);
    // The focus starts on Allow, the default, where it shows, rather than unseen on the box.
    allow_->setFocus();
}

void ApprovalPrompt::allow() {
    // One approval per waiting device: a second press could only refuse it.
    if (!allow_->isEnabled()) return;
    allow_->setEnabled(false);
    session_.approvePeer();
}

void ApprovalPrompt::refresh() {
    const QString name = QString::fromStdString(session_.pendingPeerName().value_or(std::string()));
    title_->setText(plainName(deviceDisplayName(name)) + QStringLiteral(" wants to connect"));
    choice_->setVisible(session_.needsAvailabilityChoice());
    const QSignalBlocker quiet(keepAvailable_);
    keepAvailable_->setChecked(session_.keepsAvailableOnApproval());
    if (!session_.pendingPeerName()) allow_->setEnabled(true);
}

} // namespace Plovander
