#include "app/ui/HostMenuView.h"

#include "app/capture/CaptureProbe.h"
#include "app/shell/StreamingSession.h"
#include "app/trace/TraceLog.h"
#include "app/ui/ApprovalPrompt.h"
#include "app/ui/AvailabilitySection.h"
#include "app/ui/ElidedLabel.h"
#include "app/ui/FlowRow.h"
#include "app/ui/Look.h"
#include "app/ui/MenuRow.h"
#include "app/ui/PairedDevicesSection.h"
#include "app/ui/PairingPanel.h"
#include "app/ui/ProblemBanner.h"
#include "app/ui/ReadingOrder.h"
#include "app/ui/ScrollingColumn.h"
#include "app/ui/SessionCard.h"
#include "app/ui/SetupCard.h"
#include "app/ui/SetupProblemCard.h"
#include "app/ui/StatusCard.h"
#include "app/ui/StatusChip.h"
#include "app/ui/SymbolView.h"
#include "app/ui/UpdateRows.h"
#include "app/ui/decisions/PopoverTexts.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QVBoxLayout>

namespace Plovander {
namespace {

// The popover's width, its margin on every side and the space between its sections.
constexpr int popoverWidth = 320;
constexpr int margin = 14;
constexpr int spacing = 12;

// Who this computer is, and its status word.
QHBoxLayout* header(const std::string& hostDisplayName, StatusChip* chip) {
    auto* appIcon = new SymbolView("iphone.radiowaves.left.and.right", Tint::accent, 34);
    auto* names = new QVBoxLayout;
    names->setSpacing(1);
    names->addWidget(Look::label("Plovander", Look::Text::headline));
    // The computer's name is the system's, of any length: it is cut short rather than widen the header.
    auto* hostName = new ElidedLabel(true);
    hostName->setFont(Look::font(Look::Text::caption));
    hostName->setFullText(QString::fromStdString(hostDisplayName));
    hostName->setObjectName("hostName");
    names->addWidget(hostName);
    // The status chip stays beside the names while both fit, and otherwise goes on a line of its own
    // under them, in line with them, rather than off the popover's edge.
    auto* namesAndChip = new FlowRow;
    namesAndChip->setSpacing(10);
    namesAndChip->addLayout(names, true);
    namesAndChip->addWidget(chip, false);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(margin, margin, margin, 0);
    row->setSpacing(10);
    row->addWidget(appIcon);
    row->addLayout(namesAndChip, 1);
    return row;
}

// The sections between header and footer, which scroll once the screen cannot hold the whole popover.
ScrollingColumn* scrollingMiddle(std::initializer_list<QWidget*> widgets) {
    auto* middle = new QWidget;
    auto* sections = new QVBoxLayout(middle);
    sections->setContentsMargins(margin, spacing, margin, spacing);
    sections->setSpacing(spacing);
    for (QWidget* widget : widgets) sections->addWidget(widget);
    auto* scrolling = new ScrollingColumn(middle);
    scrolling->setObjectName("middle");
    scrolling->setFixedWidth(popoverWidth);
    return scrolling;
}

} // namespace

HostMenuView::HostMenuView(StreamingSession& session, CaptureProbe& capture, HostTransfers& transfers, QWidget* parent)
    : QWidget(parent),
      session_(session),
      transfers_(transfers),
      chip_(new StatusChip),
      sessionBanner_(new ProblemBanner),
      transferBanner_(new ProblemBanner),
      statusCard_(new StatusCard),
      setupProblemCard_(new SetupProblemCard(session)),
      pairingPanel_(new PairingPanel(session)),
      setupCard_(new SetupCard(session, capture)),
      approvalPrompt_(new ApprovalPrompt(session)),
      sessionCard_(new SessionCard(session, capture, transfers)),
      availabilityDivider_(Look::divider()),
      availability_(new AvailabilitySection(session)),
      devicesDivider_(Look::divider()),
      devices_(new PairedDevicesSection(session, capture)) {
    setObjectName("hostMenu");
    setFixedWidth(popoverWidth);
    sessionBanner_->setObjectName("sessionBanner");
    transferBanner_->setObjectName("transferBanner");
    QHBoxLayout* top = header(session.hostDisplayName(), chip_);
    QVBoxLayout* bottom = footer();
    middle_ = scrollingMiddle({sessionBanner_, transferBanner_, approvalPrompt_, pairingPanel_, setupCard_,
                               sessionCard_, statusCard_, setupProblemCard_, availabilityDivider_, availability_,
                               devicesDivider_, devices_});

    // Header and footer stay; the middle scrolls.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addLayout(top);
    column->addWidget(middle_, 1);
    column->addLayout(bottom);

    connect(sessionBanner_, &ProblemBanner::dismissed, this, [this] { session_.setLastRejection(std::nullopt); });
    connect(transferBanner_, &ProblemBanner::dismissed, this, [this] { transfers_.setLastProblem(std::nullopt); });
    connect(sessionCard_, &SessionCard::filesRequested, this, &HostMenuView::filesRequested);
    auto* settingsKey = new QShortcut(QKeySequence(QStringLiteral("Ctrl+,")), this);
    connect(settingsKey, &QShortcut::activated, this, &HostMenuView::settingsRequested);
    auto* quitKey = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Q")), this);
    connect(quitKey, &QShortcut::activated, this, &HostMenuView::quitRequested);
    for (auto signal : {&StreamingSession::isSharingChanged, &StreamingSession::pendingPeerNameChanged,
                        &StreamingSession::pairingCodeChanged, &StreamingSession::pairedDevicesChanged,
                        &StreamingSession::acceptsPairedDevicesChanged, &StreamingSession::listensAutomaticallyChanged,
                        &StreamingSession::setupProblemChanged, &StreamingSession::listeningHeldByUserChanged,
                        &StreamingSession::lastRejectionChanged}) {
        connect(&session_, signal, this, &HostMenuView::refresh);
    }
    connect(&transfers_, &HostTransfers::lastProblemChanged, this, &HostMenuView::refresh);
    refresh();
}

QVBoxLayout* HostMenuView::footer() {
    auto* updates = new UpdateRows(session_.updater());
    updates->setObjectName("updateRows");
    auto* settings = new MenuRow(QStringLiteral("Settings\u2026"), "Ctrl+,");
    settings->setObjectName("settings");
    auto* quit = new MenuRow("Quit Plovander", "Ctrl+Q");
    quit->setObjectName("quit");
    connect(&session_, &StreamingSession::updaterChanged, updates, &UpdateRows::refreshSoon);
    connect(settings, &MenuRow::clicked, this, &HostMenuView::settingsRequested);
    connect(quit, &MenuRow::clicked, this, &HostMenuView::quitRequested);
    // The footer's rows reach into the margin by their own inset, so their titles line up with the
    // content above.
    auto* rows = new QVBoxLayout;
    rows->setContentsMargins(margin - MenuRow::inset, 0, margin - MenuRow::inset, 0);
    rows->setSpacing(0);
    for (QWidget* row : std::initializer_list<QWidget*>{updates, settings, quit}) rows->addWidget(row);
    auto* divider = new QHBoxLayout;
    divider->setContentsMargins(margin, 0, margin, 0);
    divider->addWidget(Look::divider());
    auto* footer = new QVBoxLayout;
    footer->setContentsMargins(0, 0, 0, margin);
    footer->setSpacing(spacing);
    footer->addLayout(divider);
    footer->addLayout(rows);
    return footer;
}

MenuStatus HostMenuView::statusWord() const {
    return menuStatus({.isSharing = session_.isSharing(),
                       .hasPendingPeer = session_.pendingPeerName().has_value(),
                       .hasPairingCode = session_.pairingCode().has_value(),
                       .hasPairedDevices = !session_.pairedDevices().empty(),
                       .acceptsPairedDevices = session_.acceptsPairedDevices(),
                       .listensAutomatically = session_.listensAutomatically(),
                       .hasSetupProblem = session_.setupProblem().has_value(),
                       .listeningHeldByUser = session_.listeningHeldByUser()});
}

void HostMenuView::opened() {
    session_.refreshLoginItem();
    // The display server lets this program read the screen without asking: granted, never asked.
    TraceLog::screenRecordingGranted(true, false);
    devices_->refresh();
    // Opening the popover retries a start that failed.
    session_.retryAfterSetupProblem();
}

void HostMenuView::keyPressEvent(QKeyEvent* event) {
    const bool returnKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // Return allows the waiting device, but never from a text field.
    const QWidget* focused = QApplication::focusWidget();
    const bool typing = qobject_cast<const QLineEdit*>(focused) && focused->isVisible();
    if (returnKey && approvalPrompt_->isVisible() && !typing) {
        approvalPrompt_->allow();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool HostMenuView::focusNextPrevChild(bool next) { return ReadingOrder::moveFocus(*this, next); }

void HostMenuView::refresh() {
    const MenuStatus status = statusWord();
    chip_->present(status);
    sessionBanner_->present(session_.lastRejection());
    transferBanner_->present(transfers_.lastProblem());
    approvalPrompt_->setVisible(status == MenuStatus::needsApproval);
    pairingPanel_->setVisible(status == MenuStatus::pairing);
    setupCard_->setVisible(status == MenuStatus::setUp);
    sessionCard_->setVisible(status == MenuStatus::connected);
    setupProblemCard_->setVisible(status == MenuStatus::needsAttention);
    const auto card = PopoverTexts::statusCard(status, session_.listensAutomatically());
    if (card) statusCard_->present(*card);
    statusCard_->setVisible(card.has_value());
    const bool switches = showsAvailability(status);
    availabilityDivider_->setVisible(switches);
    availability_->setVisible(switches);
    const bool paired = !session_.pairedDevices().empty();
    devicesDivider_->setVisible(paired);
    devices_->setVisible(paired);
}

} // namespace Plovander
