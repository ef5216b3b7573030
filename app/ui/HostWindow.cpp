#include "app/ui/HostWindow.h"

#include "app/runtime/TaskHandle.h"
#include "app/shell/StreamingSession.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace Plovander {
namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

} // namespace

HostWindow::HostWindow(StreamingSession& session, QWidget* parent)
    : QWidget(parent),
      session_(session),
      status_(new QLabel),
      code_(new QLabel),
      problem_(new QLabel),
      share_(new QPushButton("Share This Mac")),
      stop_(new QPushButton("Stop Sharing")),
      approve_(new QPushButton("Approve")),
      decline_(new QPushButton("Decline")),
      remoteControl_(new QCheckBox("Allow remote control")),
      available_(new QCheckBox("Available to my devices")) {
    setWindowTitle("Plovander");
    code_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont large = code_->font();
    large.setPointSize(large.pointSize() * 2);
    code_->setFont(large);
    problem_->setWordWrap(true);

    auto* actions = new QHBoxLayout;
    for (QPushButton* button : {share_, stop_, approve_, decline_}) actions->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    for (QWidget* widget : std::initializer_list<QWidget*>{status_, code_, problem_}) layout->addWidget(widget);
    layout->addLayout(actions);
    layout->addWidget(remoteControl_);
    layout->addWidget(available_);

    connect(share_, &QPushButton::clicked, this, [this] {
        TaskHandle::detach(
            [this](CancellationToken) -> QCoro::Task<> { co_await session_.startSharing(session_.hostDisplayName()); });
    });
    connect(stop_, &QPushButton::clicked, this, [this] {
        session_.stopSharing(session_.listensAutomatically() ? StreamingSession::StopReason::hostDisconnected()
                                                             : StreamingSession::StopReason::userStopped());
    });
    connect(approve_, &QPushButton::clicked, this, [this] {
        // One approval per waiting device: a second press could only refuse it.
        approve_->setEnabled(false);
        session_.approvePeer();
    });
    connect(decline_, &QPushButton::clicked, this, [this] { session_.declinePeer(); });
    connect(remoteControl_, &QCheckBox::toggled, this, [this](bool on) { session_.setAllowsRemoteControl(on); });
    connect(available_, &QCheckBox::toggled, this, [this](bool on) { session_.setListensAutomatically(on); });

    for (auto signal :
         {&StreamingSession::phaseDescriptionChanged, &StreamingSession::pairingCodeChanged,
          &StreamingSession::pendingPeerNameChanged, &StreamingSession::lastRejectionChanged,
          &StreamingSession::isSharingChanged, &StreamingSession::isAdvertisingChanged,
          &StreamingSession::allowsRemoteControlChanged, &StreamingSession::listensAutomaticallyChanged}) {
        connect(&session_, signal, this, &HostWindow::refresh);
    }
    refresh();
}

void HostWindow::refresh() {
    status_->setText(text(session_.phaseDescription()));
    code_->setText(session_.pairingCode() ? text(*session_.pairingCode()) : QString());
    code_->setVisible(session_.pairingCode().has_value());
    problem_->setText(session_.lastRejection() ? text(*session_.lastRejection()) : QString());
    problem_->setVisible(session_.lastRejection().has_value());
    const bool waiting = session_.pendingPeerName().has_value();
    share_->setEnabled(!session_.isSharing() && !session_.isAdvertising() && !waiting);
    stop_->setEnabled(session_.isSharing() || session_.isAdvertising() || waiting);
    approve_->setVisible(waiting);
    if (!waiting) approve_->setEnabled(true);
    decline_->setVisible(waiting);
    const QSignalBlocker quietRemote(remoteControl_);
    remoteControl_->setChecked(session_.allowsRemoteControl());
    const QSignalBlocker quietAvailable(available_);
    available_->setChecked(session_.listensAutomatically());
}

} // namespace Plovander
